#include "platform/library_text.h"

#include <windows.h>

#include <limits>

#include "platform/error.h"

namespace kalo::platform {
namespace {

int LengthOf(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw Error(error_number::kOverflow, "Texto longo demais para a biblioteca", "LibraryText");
  }
  return static_cast<int>(text.size());
}

std::wstring Widened(std::string_view text, UINT code_page, DWORD flags) {
  if (text.empty()) {
    return {};
  }
  const int length = MultiByteToWideChar(code_page, flags, text.data(), LengthOf(text), nullptr, 0);
  if (length <= 0) {
    throw Error(error_number::kInvalidArgument, "Texto inválido: " + std::string(text),
                "LibraryText");
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), LengthOf(text), wide.data(), length);
  return wide;
}

std::string Narrowed(const std::wstring& wide, UINT code_page, BOOL* lost) {
  if (wide.empty()) {
    return {};
  }
  const int wide_length = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(code_page, 0, wide.data(), wide_length, nullptr, 0, nullptr, lost);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), wide_length, text.data(), length, nullptr,
                      nullptr);
  return text;
}

}  // namespace

std::string ToLibraryText(std::string_view text) {
  BOOL lost = FALSE;
  std::string result = Narrowed(Widened(text, CP_UTF8, MB_ERR_INVALID_CHARS), CP_ACP, &lost);
  if (lost) {
    throw Error(error_number::kPathFileAccess,
                "O texto não cabe na página de código do sistema: " + std::string(text),
                "LibraryText");
  }
  return result;
}

std::string FromLibraryText(std::string_view text) {
  return Narrowed(Widened(text, CP_ACP, 0), CP_UTF8, nullptr);
}

}  // namespace kalo::platform
