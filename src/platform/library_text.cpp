#include "platform/library_text.h"

#include "caller_text.h"
#include "platform/error.h"

namespace kalo::platform {

// The libraries read their texts as their classic callers wrote them, so the updater
// converts with the libraries' own conversions.
std::string ToLibraryText(std::string_view text) {
  try {
    return caller_text::FromUtf8(text);
  } catch (const Error&) {
    throw Error(error_number::kPathFileAccess,
                "O texto não cabe na página de código do sistema: " + std::string(text),
                "LibraryText");
  }
}

std::string FromLibraryText(std::string_view text) {
  return caller_text::ToUtf8(text);
}

}  // namespace kalo::platform
