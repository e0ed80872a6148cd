// Waiting while the window stays responsive.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/ui.h"

namespace cUpdate {

// Waits `seconds` (nothing for 0 or less) on the monotonic clock, handling the
// window's messages as they come instead of spinning a core.
void WaitSeconds(kalo::platform::Ui& ui, const kalo::platform::Clock& clock, std::int32_t seconds);

}  // namespace cUpdate
