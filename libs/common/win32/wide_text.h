// Text at the boundary of the Win32 API: the system takes and answers UTF-16 (the "W"
// functions); the updater keeps UTF-8 inside, and the archive libraries take their
// callers' texts in the ANSI code page. Only Windows code includes it.
//
// A text crosses exactly or not at all, both ways. Invalid UTF-8 would otherwise become
// U+FFFD, and a character without a form of its own in a code page a look-alike
// (fullwidth "．．／" becomes "../") or the default character: a name changed on the
// way names another file, and two names may become one.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kalo::win32 {

// `text`, encoded in `code_page`, as UTF-16.
std::wstring Widen(std::string_view text, UINT code_page = CP_UTF8);

// `text` encoded in `code_page`.
std::string Narrow(std::wstring_view text, UINT code_page = CP_UTF8);

// Throws for a text the conversions refuse, naming the code page (the ANSI one by its
// number). Each program that links them defines it in its own error type: the archive
// libraries, whose C interface answers codes, a std::range_error; the updater its
// runtime error.
[[noreturn]] void RefuseInexactText(UINT code_page);

}  // namespace kalo::win32
