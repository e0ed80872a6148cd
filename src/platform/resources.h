// Resources carried inside the program: raw bytes looked up by name and type.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kalo::platform {

struct CarriedResource {
  std::string_view name;
  std::string_view type;
  std::span<const std::byte> bytes;
};

class CarriedResources {
 public:
  explicit CarriedResources(std::span<const CarriedResource> table) : table_(table) {}

  // The bytes of the resource; names and types are compared without regard to case.
  // Throws an error numbered kResourceNotFound when there is none.
  std::span<const std::byte> Load(std::string_view name, std::string_view type) const;

 private:
  std::span<const CarriedResource> table_;
};

}  // namespace kalo::platform
