#include "caller_text.h"

#include "win32/wide_text.h"

namespace kalo::caller_text {

// Callers on Windows write in the ANSI code page, as the C runtime's char functions do.
std::string ToUtf8(std::string_view text) {
  return win32::Narrow(win32::Widen(text, CP_ACP));
}

std::string FromUtf8(std::string_view text) {
  return win32::Narrow(win32::Widen(text), CP_ACP);
}

}  // namespace kalo::caller_text
