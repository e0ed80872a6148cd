#include "support/configuration.h"

#include "kalo/build_settings.h"
#include "platform/error.h"
#include "platform/internet_transfer_interface.h"
#include "platform/web_address.h"
#include "support/text.h"

namespace kalo {
namespace {

std::string Normalised(std::string address) {
  if (address.find("://") == std::string::npos) {
    address.insert(0, "http://");
  }
  while (address.ends_with('/')) {
    address.pop_back();
  }
  return address;
}

}  // namespace

std::string ServerBaseAddress(const std::optional<std::string>& command_line,
                              const platform::SettingsStore& settings) {
  if (command_line && !command_line->empty()) {
    return Normalised(*command_line);
  }
  const std::string stored = settings.Get("KALO", "config", "servidor", "");
  // A line break would put lines of its own into every request.
  if (platform::HasControlCharacters(stored)) {
    throw Error(error_number::kInvalidArgument,
                "O endereço do servidor nas configurações (servidor) tem caracteres de controle",
                "ServerBaseAddress");
  }
  return Normalised(stored.empty() ? build::kDefaultServer : stored);
}

std::string ProxySetting(const platform::SettingsStore& settings) {
  const std::string value = cUpdate::TrimBlanks(settings.Get("KALO", "config", "proxy", ""));
  return cUpdate::LowerCase(value) == platform::kDirectConnection ? cUpdate::LowerCase(value)
                                                                  : value;
}

}  // namespace kalo
