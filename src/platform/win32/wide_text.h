// Text at the boundary of the Win32 API: the system takes and answers UTF-16 (the
// "W" functions), the rest of the program keeps UTF-8. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/error.h"
// The conversions the archive libraries share.
#include "win32/wide_text.h"

namespace kalo::platform {

// `text`, encoded in `code_page`, as UTF-16.
inline std::wstring Wide(std::string_view text, UINT code_page = CP_UTF8) {
  return win32::Widen(text, code_page);
}

// `text` encoded in `code_page`, exactly. Throws when a character has no form of its
// own there: the system would put a look-alike in its place (fullwidth "．．／" becomes
// "../") or a default character, and a name changed on the way names another file.
inline std::string Narrow(std::wstring_view text, UINT code_page) {
  try {
    return win32::Narrow(text, code_page);
  } catch (const std::range_error&) {
    throw Error(error_number::kInvalidArgument,
                "O texto não tem forma exata na página de código " +
                    std::to_string(code_page == CP_ACP ? ::GetACP() : code_page),
                "WideText");
  }
}

inline std::string Utf8(std::wstring_view text) {
  return Narrow(text, CP_UTF8);
}

}  // namespace kalo::platform
