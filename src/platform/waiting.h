// Waiting while the window stays responsive.
#pragma once

#include <chrono>

#include "platform/clock.h"
#include "platform/ui.h"

namespace kalo::platform {

// Waits `duration` on `clock`, handling the window's messages as they come instead of
// spinning a core.
void WaitServingWindow(Ui& ui, const Clock& clock, std::chrono::milliseconds duration);

}  // namespace kalo::platform
