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

UINT Resolved(UINT code_page) {
  return code_page == CP_ACP ? ::GetACP() : code_page;
}

}  // namespace

std::wstring Widen(std::string_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  const int length = CheckedLength(text.size());
  const int needed =
      ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (needed == 0) {
    RefuseInexactText(Resolved(code_page));
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view text, UINT code_page) {
  if (text.empty()) {
    return {};
  }
  // UTF-8 holds every character but a lone surrogate, and takes neither the best-fit
  // flag nor the default-character report; the ANSI code page may be UTF-8 too.
  const UINT page = Resolved(code_page);
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  const int length = CheckedLength(text.size());
  const int needed = ::WideCharToMultiByte(page, flags, text.data(), length, nullptr, 0, nullptr,
                                           utf8 ? nullptr : &defaulted);
  if (needed == 0 || defaulted) {
    RefuseInexactText(page);
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(page, flags, text.data(), length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

}  // namespace kalo::win32
