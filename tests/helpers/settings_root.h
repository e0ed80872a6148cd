// A settings root of one test's own, empty at first and removed with everything below
// it afterwards: a temporary folder on POSIX, a key below
// HKEY_CURRENT_USER\Software\kalo_tests on Windows.
#pragma once

#include <memory>
#include <string>

namespace kalo::test {

class SettingsRoot {
 public:
  SettingsRoot();
  SettingsRoot(const SettingsRoot&) = delete;
  SettingsRoot& operator=(const SettingsRoot&) = delete;
  ~SettingsRoot();

  // The root as a SettingsStore takes it.
  const std::string& Path() const { return path_; }

  // A root inside this one below which nothing can be stored.
  std::string Unwritable() const;

 private:
  struct Place;  // what the system keeps for the root, removed with it

  std::unique_ptr<Place> place_;
  std::string path_;
};

}  // namespace kalo::test
