// Small edits of plain text that every layer makes: the ends of a value read from a
// file or typed by a person, and the line breaks of a text shown where Windows' CR LF
// does not belong.
#pragma once

#include <string>
#include <string_view>

namespace kalo::platform {

// The blanks around a value in a line of a file, with the CR that a file edited on
// Windows leaves at the end of each line.
inline constexpr std::string_view kLineBlanks = " \t\r";

// `text` without any of the characters of `blanks` at either end.
std::string_view Trimmed(std::string_view text, std::string_view blanks);

// `text` with each CR LF made a bare LF; a CR of its own stays.
std::string WithLineFeeds(std::string_view text);

}  // namespace kalo::platform
