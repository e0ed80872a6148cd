// The texts of the window's status lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kalo::app {

// The Portuguese description of a transfer state code; "Indefinido" for any code
// outside 0 to 12.
std::string TransferStateText(std::int16_t state);

// Line 3: " Start: <start>     Tempo Gasto:<seconds> seg", where the seconds are the
// second boundaries passed between `start` and `now`.
std::string ElapsedTimeLine(std::chrono::system_clock::time_point start,
                            std::chrono::system_clock::time_point now);

}  // namespace kalo::app
