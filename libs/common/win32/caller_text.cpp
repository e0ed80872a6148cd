#include "caller_text.h"

#include <stdexcept>

#include "win32/wide_text.h"

namespace kalo {

// The C interface answers a code for any exception; the text is for debugging.
void win32::RefuseInexactText(UINT code_page) {
  throw std::range_error("a text has no exact form in code page " + std::to_string(code_page));
}

namespace caller_text {

// Callers on Windows write in the ANSI code page, as the C runtime's char functions do.
std::string ToUtf8(std::string_view text) {
  return win32::Narrow(win32::Widen(text, CP_ACP));
}

std::string FromUtf8(std::string_view text) {
  return win32::Narrow(win32::Widen(text), CP_ACP);
}

}  // namespace caller_text
}  // namespace kalo
