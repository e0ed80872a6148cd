// Environment variables changed for one test, in the process's own environment as the
// platform layer reads it.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kalo::test {

// The value of `name`; nothing when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

// Sets `name` to `value`, or removes it when `value` is nothing.
void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value);

// Sets a variable for as long as it lives and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)), old_(EnvironmentValue(name_)) {
    ChangeEnvironment(name_, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() { ChangeEnvironment(name_, old_); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace kalo::test
