#include "support/waits.h"

#include <algorithm>
#include <chrono>

namespace cUpdate {
namespace {

// Often enough for the window's 100-ms elapsed-time line to keep moving.
constexpr std::chrono::milliseconds kLongestBlock{50};

}  // namespace

void WaitSeconds(kalo::platform::Ui& ui, const kalo::platform::Clock& clock, std::int32_t seconds) {
  const auto deadline = clock.Now() + std::chrono::seconds(seconds);
  for (auto now = clock.Now(); now < deadline; now = clock.Now()) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    ui.WaitForMessages(std::min(remaining, kLongestBlock));
  }
}

}  // namespace cUpdate
