#include "platform/resources.h"

#include <string>

#include "platform/ascii.h"
#include "platform/error.h"

namespace kalo::platform {
std::span<const std::byte> CarriedResources::Load(std::string_view name,
                                                  std::string_view type) const {
  for (const CarriedResource& resource : table_) {
    if (EqualIgnoringAsciiCase(resource.name, name) &&
        EqualIgnoringAsciiCase(resource.type, type)) {
      return resource.bytes;
    }
  }
  throw Error(error_number::kResourceNotFound,
              "Recurso não encontrado: " + std::string(name) + " (tipo " + std::string(type) + ")",
              "CarriedResources::Load");
}

}  // namespace kalo::platform
