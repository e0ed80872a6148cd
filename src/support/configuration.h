// Deployment configuration: where the update server is.
#pragma once

#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace kalo {

// The server base address, from the first that gives one: the command line, the
// settings value ("KALO", "config", "servidor"), the build's default. A bare host
// gets "http://" in front, and trailing slashes go, since paths are appended to it.
// Throws when the settings value holds a control character (the command line's is
// refused before).
std::string ServerBaseAddress(const std::optional<std::string>& command_line,
                              const platform::SettingsStore& settings);

// The proxy setting of the transfers (platform::kDirectConnection tells its values),
// from the settings value ("KALO", "config", "proxy") without surrounding blanks;
// "direct" in any case means no proxy.
std::string ProxySetting(const platform::SettingsStore& settings);

}  // namespace kalo
