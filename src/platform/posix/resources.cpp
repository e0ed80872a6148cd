#include "platform/resources.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/error.h"

namespace kalo::platform {
namespace {

bool SameIgnoringCase(std::string_view left, std::string_view right) {
  return std::ranges::equal(left, right, [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
  });
}

}  // namespace

std::span<const std::byte> CarriedResources::Load(std::string_view name,
                                                  std::string_view type) const {
  for (const CarriedResource& resource : table_) {
    if (SameIgnoringCase(resource.name, name) && SameIgnoringCase(resource.type, type)) {
      return resource.bytes;
    }
  }
  throw Error(error_number::kResourceNotFound,
              "Recurso não encontrado: " + std::string(name) + " (tipo " + std::string(type) + ")",
              "CarriedResources::Load");
}

}  // namespace kalo::platform
