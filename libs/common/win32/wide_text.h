// Wide texts at the Windows API, UTF-8 texts inside our libraries.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kalo::win32 {

std::wstring Widen(std::string_view text, UINT code_page = CP_UTF8);
std::string Narrow(std::wstring_view text, UINT code_page = CP_UTF8);

}  // namespace kalo::win32
