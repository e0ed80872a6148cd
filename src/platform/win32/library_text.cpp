#include "platform/library_text.h"

#include "platform/error.h"
#include "platform/win32/wide_text.h"

namespace kalo::platform {

// The libraries' records carry the ANSI code page, as the classic callers wrote them.
std::string ToLibraryText(std::string_view text) {
  BOOL lost = FALSE;
  std::string result = Narrow(Wide(text), CP_ACP, &lost);
  if (lost) {
    throw Error(error_number::kPathFileAccess,
                "O texto não cabe na página de código do sistema: " + std::string(text),
                "LibraryText");
  }
  return result;
}

std::string FromLibraryText(std::string_view text) {
  return Utf8(Wide(text, CP_ACP));
}

}  // namespace kalo::platform
