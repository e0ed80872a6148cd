#include "platform/library_text.h"

namespace kalo::platform {

// The libraries take UTF-8 here, as the rest of the system does.
std::string ToLibraryText(std::string_view text) {
  return std::string(text);
}

std::string FromLibraryText(std::string_view text) {
  return std::string(text);
}

}  // namespace kalo::platform
