#include "platform/waiting.h"

#include <algorithm>

namespace kalo::platform {
namespace {

// Often enough for the window's 100-ms elapsed-time line to keep moving.
constexpr std::chrono::milliseconds kLongestBlock{50};

}  // namespace

void WaitServingWindow(Ui& ui, const Clock& clock, std::chrono::milliseconds duration) {
  const auto deadline = clock.Now() + duration;
  for (auto now = clock.Now(); now < deadline; now = clock.Now()) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    ui.WaitForMessages(std::min(remaining, kLongestBlock));
  }
}

}  // namespace kalo::platform
