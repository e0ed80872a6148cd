// How the archive libraries refuse a text the Win32 conversions cannot carry exactly.
#include <stdexcept>
#include <string>

#include "win32/wide_text.h"

namespace kalo {

// The C interface answers a code for any exception; the text is for debugging.
void win32::RefuseInexactText(UINT code_page) {
  throw std::range_error("a text has no exact form in code page " + std::to_string(code_page));
}

}  // namespace kalo
