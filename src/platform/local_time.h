// Dates and times as the user reads them.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kalo::platform {

// The general date-time text of the user's locale: the short date, a blank and the
// long time (for example "07/12/2026 21:45:03" in a day/month/year locale).
std::string GeneralDateTime(std::chrono::system_clock::time_point when);

// `when` in local time with the offset from UTC that held then, as ISO 8601 writes it
// ("2026-12-09T17:20:03+01:00"), so that lines written before and after a change of summer
// time still sort and compare.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

// A local date and time and its offset east of UTC, each system's reading of a moment.
struct LocalDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int offset_minutes = 0;
};

inline std::string IsoText(const LocalDateTime& t) {
  const int offset = std::abs(t.offset_minutes);
  std::array<char, 40> text{};
  const int length = std::snprintf(
      text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day,
      t.hour, t.minute, t.second, t.offset_minutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return {text.data(), length > 0 ? static_cast<std::size_t>(length) : 0};
}

}  // namespace kalo::platform
