#include "caller_text.h"

namespace kalo::caller_text {

// Callers here use UTF-8 already.
std::string ToUtf8(std::string_view text) {
  return std::string(text);
}

std::string FromUtf8(std::string_view text) {
  return std::string(text);
}

}  // namespace kalo::caller_text
