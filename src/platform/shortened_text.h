// Texts shown to people are made partly of names from outside (a manifest, a server,
// an archive), which may be of any length; every box, status line and log line goes
// through this cut first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kalo::platform {

inline constexpr std::size_t kShownLineLimit = 300;

// `text` with every line longer than `limit` bytes cut to its start and its end around
// "…", between whole UTF-8 characters; the line breaks stay as they are.
std::string ShortenedLines(std::string_view text, std::size_t limit = kShownLineLimit);

}  // namespace kalo::platform
