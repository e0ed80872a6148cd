// Text at the boundary of the Win32 API: the system takes and answers UTF-16 (the
// "W" functions), the rest of the program keeps UTF-8. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/error.h"

namespace kalo::platform {

// `text`, encoded in `code_page`, as UTF-16.
inline std::wstring Wide(std::string_view text, UINT code_page = CP_UTF8) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
  return wide;
}

// `text` encoded in `code_page`, exactly. Throws when a character has no form of its
// own there: the system would put a look-alike in its place (fullwidth "．．／" becomes
// "../") or a default character, and a name changed on the way names another file.
inline std::string Narrow(std::wstring_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  // UTF-8 holds every character but a lone surrogate, and takes neither the best-fit
  // flag nor the default-character report; the ANSI code page may be UTF-8 too.
  const UINT page = code_page == CP_ACP ? ::GetACP() : code_page;
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(page, flags, text.data(), size, nullptr, 0, nullptr,
                                           utf8 ? nullptr : &defaulted);
  if (length == 0 || defaulted) {
    throw Error(error_number::kInvalidArgument,
                "O texto não tem forma exata na página de código " + std::to_string(page),
                "WideText");
  }
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(page, flags, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

inline std::string Utf8(std::wstring_view text) {
  return Narrow(text, CP_UTF8);
}

}  // namespace kalo::platform
