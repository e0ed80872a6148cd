// File times on Windows count 100-nanosecond ticks since 1601; ours count seconds since
// 1970.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ctime>

namespace kalo::win32 {

inline constexpr std::int64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kUnixEpochTicks = 116'444'736'000'000'000;

inline std::time_t ToTime(const FILETIME& time) {
  const auto ticks =
      static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return static_cast<std::time_t>((ticks - kUnixEpochTicks) / kTicksPerSecond);
}

inline LARGE_INTEGER ToFileTime(std::time_t time) {
  LARGE_INTEGER ticks{};
  ticks.QuadPart = static_cast<std::int64_t>(time) * kTicksPerSecond + kUnixEpochTicks;
  return ticks;
}

}  // namespace kalo::win32
