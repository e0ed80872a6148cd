// Wide texts at the Windows API, UTF-8 texts inside our libraries.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kalo::win32 {

std::wstring Widen(std::string_view text, UINT code_page = CP_UTF8);

// Exactly `text` in `code_page`; throws std::range_error when a character has no form
// of its own there, rather than put a look-alike or a default character in its place.
std::string Narrow(std::wstring_view text, UINT code_page = CP_UTF8);

}  // namespace kalo::win32
