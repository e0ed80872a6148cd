#include "support/configuration.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "helpers/settings_root.h"
#include "kalo/build_settings.h"
#include "platform/error.h"

namespace {

TEST(ServerBaseAddress, CommandLineThenSettingsThenBuildDefault) {
  const kalo::test::SettingsRoot root;
  kalo::platform::SettingsStore settings(root.Path());
  EXPECT_EQ(kalo::ServerBaseAddress(std::nullopt, settings), kalo::build::kDefaultServer);
  settings.Save("KALO", "config", "servidor", "https://updates.example/");
  EXPECT_EQ(kalo::ServerBaseAddress(std::nullopt, settings), "https://updates.example");
  EXPECT_EQ(kalo::ServerBaseAddress(std::string(""), settings), "https://updates.example");
  EXPECT_EQ(kalo::ServerBaseAddress(std::string("127.0.0.1:9000//"), settings),
            "http://127.0.0.1:9000");
}

// The settings store of Windows can hold any of them, an INI file all but the line breaks.
TEST(ServerBaseAddress, AStoredAddressWithControlCharactersIsRefused) {
  const kalo::test::SettingsRoot root;
  kalo::platform::SettingsStore settings(root.Path());
  for (const std::string stored : {"http://h:1/\x01X-Evil: 1", "http://h:1/\tx", "http://h\x7f"}) {
    settings.Save("KALO", "config", "servidor", stored);
    try {
      kalo::ServerBaseAddress(std::nullopt, settings);
      ADD_FAILURE() << stored << " was taken";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Description(),
                "O endereço do servidor nas configurações (servidor) tem caracteres de controle");
    }
  }
}

TEST(ProxySetting, StoredValueWithoutBlanksAndDirectInAnyCase) {
  const kalo::test::SettingsRoot root;
  kalo::platform::SettingsStore settings(root.Path());
  EXPECT_EQ(kalo::ProxySetting(settings), "");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"  ", ""},
      {" DIRECT ", "direct"},
      {" http://proxy.example:3128 ", "http://proxy.example:3128"},
  };
  for (const auto& [stored, expected] : cases) {
    settings.Save("KALO", "config", "proxy", stored);
    EXPECT_EQ(kalo::ProxySetting(settings), expected) << stored;
  }
}

}  // namespace
