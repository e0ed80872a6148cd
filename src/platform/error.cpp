#include "platform/error.h"

#include <utility>

namespace kalo {

Error::Error(int number, std::string description, std::string source)
    : std::runtime_error(source + ": " + description + " (" + std::to_string(number) + ")"),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

Error Error::WithSource(std::string source) const {
  return Error(number_, description_, std::move(source));
}

}  // namespace kalo
