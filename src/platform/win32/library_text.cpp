#include "platform/library_text.h"

#include "platform/error.h"
#include "win32/wide_text.h"

namespace kalo::platform {

// The libraries' records carry the ANSI code page, as the classic callers wrote them.
std::string ToLibraryText(std::string_view text) {
  try {
    return win32::Narrow(win32::Widen(text), CP_ACP);
  } catch (const Error&) {
    throw Error(error_number::kPathFileAccess,
                "O texto não cabe na página de código do sistema: " + std::string(text),
                "LibraryText");
  }
}

std::string FromLibraryText(std::string_view text) {
  return win32::Narrow(win32::Widen(text, CP_ACP));
}

}  // namespace kalo::platform
