#include "support/waits.h"

#include <chrono>

#include "platform/waiting.h"

namespace cUpdate {

void WaitSeconds(kalo::platform::Ui& ui, const kalo::platform::Clock& clock, std::int32_t seconds) {
  if (seconds > 0) {
    kalo::platform::WaitServingWindow(ui, clock, std::chrono::seconds(seconds));
  }
}

}  // namespace cUpdate
