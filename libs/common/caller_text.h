// The texts in the C records of our libraries come in the caller's code page: the ANSI
// code page on Windows, UTF-8 elsewhere. Inside, the libraries work in UTF-8, as libzip
// does, and convert at the C interface with these two.
#pragma once

#include <string>
#include <string_view>

namespace kalo::caller_text {

// A text from the caller, in UTF-8.
std::string ToUtf8(std::string_view text);

// A UTF-8 text for the caller. Throws std::range_error when a character has no exact
// form in the caller's code page: a name changed on the way would name another file.
std::string FromUtf8(std::string_view text);

}  // namespace kalo::caller_text
