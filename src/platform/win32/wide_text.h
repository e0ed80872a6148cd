// Text at the boundary of the Win32 API: the system takes and answers UTF-16 (the
// "W" functions), the rest of the program keeps UTF-8. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

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

// `text` encoded in `code_page`; `lost`, when given, tells whether a character had no
// form there and was replaced.
inline std::string Narrow(std::wstring_view text, UINT code_page, BOOL* lost = nullptr) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(code_page, 0, text.data(), size, nullptr, 0, nullptr, lost);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(code_page, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

inline std::string Utf8(std::wstring_view text) {
  return Narrow(text, CP_UTF8);
}

}  // namespace kalo::platform
