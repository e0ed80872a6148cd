#include "archive/binding_state.h"

#include <cstring>

#include "platform/library_text.h"

namespace cImpZipDeclares {

BindingState& TheBindingState() {
  static BindingState state;
  return state;
}

std::string TextFromBuffer(const char* buffer, std::size_t length) {
  if (buffer == nullptr) {
    return {};
  }
  const void* nul = std::memchr(buffer, '\0', length);
  return kalo::platform::FromLibraryText(
      {buffer,
       nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : length});
}

}  // namespace cImpZipDeclares
