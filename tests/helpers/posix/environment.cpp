#include "helpers/environment.h"

#include <stdlib.h>

namespace kalo::test {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace kalo::test
