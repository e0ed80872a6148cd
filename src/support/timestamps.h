// The version-date encoding: a version a.b.c.d read as a build date (a = ddmm,
// b = yyyy, d = hhnn), and its rendering through a small pattern language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cUpdate {

// Renders the fields through `pattern`: each of the letters y, m, d, h, n, s (either
// case) stands for year, month, day, hour, minute and second, zero-padded to as many
// digits as the pattern holds of that letter; everything else is copied.
std::string FormatStamp(std::string_view pattern, std::int32_t year, std::int32_t month,
                        std::int32_t day, std::int32_t hour, std::int32_t minute,
                        std::int32_t second);

// Renders a version's date fields (a = ddmm, b = yyyy, d = hhnn) through `pattern`.
std::string FormatVersionDate(std::string_view pattern, std::int32_t day_month, std::int32_t year,
                              std::int32_t hour_minute);

// The running program's own build date and time.
std::string AppVersionDate(std::string_view pattern);

// The build date and time of the file at `path`, from its version information; the
// empty text when the file is missing or has none.
std::string FileVersionStamp(const std::string& path, std::string_view pattern);

}  // namespace cUpdate
