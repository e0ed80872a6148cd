// The per-user settings store: one text value by application, section and key.
#pragma once

#include <string>

namespace kalo::platform {

class SettingsStore {
 public:
  // Keeps the settings of each application under `root` (one folder per application).
  explicit SettingsStore(std::string root) : root_(std::move(root)) {}
  virtual ~SettingsStore() = default;

  // The stored value, or `fallback` when there is none. Section and key are
  // compared without regard to case.
  virtual std::string Get(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& fallback) const;

  // Stores the value, replacing the settings file as a whole so that a crash never
  // leaves it half written. Throws when it cannot be stored.
  virtual void Save(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value);

 private:
  std::string FileOf(const std::string& app) const;

  std::string root_;
};

// Where the current user's settings live: $XDG_CONFIG_HOME, else ~/.config.
std::string DefaultSettingsRoot();

}  // namespace kalo::platform
