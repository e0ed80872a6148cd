// A transfer given up on while the system still works on it, measured on the real clock:
// what is checked is what the system does at its own time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <string>
#include <thread>

#include "helpers/fake_ui.h"
#include "helpers/test_server.h"
#include "platform/error.h"
#include "platform/internet_transfer.h"

namespace {

using namespace std::chrono_literals;

// Fills a stretch of the stack below the caller with a pattern, keeps it for `hold` and
// answers whether anything wrote into it meanwhile.
[[gnu::noinline]] bool StackStaysUntouched(std::chrono::milliseconds hold) {
  constexpr unsigned char kPattern = 0xA5;
  volatile unsigned char stretch[64 * 1024];
  for (auto& byte : stretch) {
    byte = kPattern;
  }
  std::this_thread::sleep_for(hold);
  for (const auto& byte : stretch) {
    if (byte != kPattern) {
      return false;
    }
  }
  return true;
}

// A stall gives up on an operation still under way; the system completes it later, on
// threads of its own, and its answer must not land in the frames that waited for it.
TEST(InternetTransferRealTime, AnOperationGivenUpOnWritesNothingIntoTheWaitersStack) {
  kalo::test::TestServer server;
  kalo::test::FakeUi ui;
  const kalo::platform::Clock clock;
  // One attempt: a retry would wait seconds on the real clock.
  const auto transfer = kalo::platform::MakeInternetTransfer(ui, clock, {2s, 150ms, 1024, 1});
  // Half of it comes at once, too little for the first 150 ms: the stall ends the
  // transfer at their end, while WinINet waits for more.
  server.SetFile("silent.bin", std::string(1000, 's'));
  server.SetFault("/trabalho/versao/silent.bin", kalo::test::Fault::kStallMidBody);
  EXPECT_THROW(transfer->OpenUrlBytes(server.BaseAddress() + "/trabalho/versao/silent.bin",
                                      {[](std::span<const std::byte>) {}, [] {}}),
               kalo::Error);
  // WinINet ends the operation it was left with at its receive time-out, two idle times.
  EXPECT_TRUE(StackStaysUntouched(500ms));
}

}  // namespace
