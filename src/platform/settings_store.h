// The per-user settings store: one text value by application, section and key.
#pragma once

#include <string>

namespace kalo::platform {

class SettingsStore {
 public:
  // Keeps the settings of each application under `root`: on POSIX a folder with one
  // settings file per application, on Windows a key of the current user's registry.
  explicit SettingsStore(std::string root) : root_(std::move(root)) {}
  virtual ~SettingsStore() = default;

  // The stored value, or `fallback` when there is none. Section and key are
  // compared without regard to case.
  virtual std::string Get(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& fallback) const;

  // Stores the value so that a crash never leaves the settings half written (on POSIX
  // the settings file is replaced as a whole). Throws when it cannot be stored.
  virtual void Save(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value);

 private:
  // Where the settings of `app` are kept: its settings file, or its registry key.
  std::string PlaceOf(const std::string& app) const;

  std::string root_;
};

// Where the current user's settings live: on POSIX $XDG_CONFIG_HOME, else ~/.config;
// on Windows the registry key in which the product's own program keeps its settings,
// so that the client name it stored is found.
std::string DefaultSettingsRoot();

}  // namespace kalo::platform
