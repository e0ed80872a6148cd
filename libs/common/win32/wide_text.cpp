#include "win32/wide_text.h"

#include <climits>
#include <new>

namespace kalo::win32 {
namespace {

// The conversion functions count in int; longer texts are refused rather than cut.
int CheckedLength(std::size_t length) {
  if (length > INT_MAX) {
    throw std::bad_alloc();
  }
  return static_cast<int>(length);
}

}  // namespace

std::wstring Widen(std::string_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  const int length = CheckedLength(text.size());
  const int needed = ::MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  const int length = CheckedLength(text.size());
  const int needed =
      ::WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(code_page, 0, text.data(), length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

}  // namespace kalo::win32
