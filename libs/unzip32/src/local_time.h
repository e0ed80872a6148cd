// The local time of a moment, for listings.
#pragma once

#include <ctime>

namespace kalo::unzip32 {

std::tm LocalTime(std::time_t time);

}  // namespace kalo::unzip32
