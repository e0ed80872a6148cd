// Dates and times as the user reads them.
#pragma once

#include <chrono>
#include <string>

namespace kalo::platform {

// The general date-time text of the user's locale: the short date, a blank and the
// long time (for example "07/12/2026 21:45:03" in a day/month/year locale).
std::string GeneralDateTime(std::chrono::system_clock::time_point when);

}  // namespace kalo::platform
