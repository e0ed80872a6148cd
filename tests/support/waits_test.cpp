#include "support/waits.h"

#include <gtest/gtest.h>

#include <chrono>

#include "helpers/fake_ui.h"

namespace {

using namespace std::chrono_literals;

TEST(WaitSeconds, WaitsTheWholeTimeWhileHandlingMessages) {
  kalo::test::FakeClock clock;
  kalo::test::FakeUi ui(&clock);
  const auto start = clock.Now();
  cUpdate::WaitSeconds(ui, clock, 2);
  EXPECT_EQ(clock.Now() - start, 2s);
  // The window keeps being served often enough for its 100-ms timer.
  EXPECT_GE(ui.pumps, 20);
  for (auto wait : ui.waits) {
    EXPECT_LE(wait, 100ms);
    EXPECT_GT(wait, 0ms);
  }
}

TEST(WaitSeconds, ZeroOrNegativeReturnsAtOnce) {
  for (int seconds : {0, -1, -100}) {
    kalo::test::FakeClock clock;
    kalo::test::FakeUi ui(&clock);
    cUpdate::WaitSeconds(ui, clock, seconds);
    EXPECT_EQ(ui.pumps, 0) << seconds;
  }
}

// Messages that arrive wake the wait early; it must still last its whole time.
class BusyUi : public kalo::test::FakeUi {
 public:
  explicit BusyUi(kalo::test::FakeClock* clock) : FakeUi(nullptr), clock_(clock) {}
  void WaitForMessages(std::chrono::milliseconds timeout) override {
    FakeUi::WaitForMessages(timeout);
    clock_->Advance(7ms);
  }

 private:
  kalo::test::FakeClock* clock_;
};

TEST(WaitSeconds, EarlyWakeUpsDoNotShortenIt) {
  kalo::test::FakeClock clock;
  BusyUi ui(&clock);
  const auto start = clock.Now();
  cUpdate::WaitSeconds(ui, clock, 3);
  EXPECT_GE(clock.Now() - start, 3s);
  EXPECT_LT(clock.Now() - start, 3s + 7ms);
}

}  // namespace
