#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <string>

#include "helpers/settings_root.h"
#include "platform/error.h"

namespace {

using kalo::platform::SettingsStore;

TEST(SettingsStore, AnswersTheFallbackUntilSomethingIsStored) {
  const kalo::test::SettingsRoot root;
  SettingsStore settings(root.Path());
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", "none"), "none");
  settings.Save("KALO", "config", "cliente", "acme corp");
  // The next run opens a store of its own and finds the same.
  const SettingsStore next_run(root.Path());
  const struct {
    const char* app;
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"KALO", "config", "cliente", "acme corp"}, {"KALO", "CONFIG", "Cliente", "acme corp"},
      {"KALO", "other", "cliente", "none"},       {"KALO", "config", "servidor", "none"},
      {"OTHER", "config", "cliente", "none"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(std::string(row.app) + " " + row.section + " " + row.key);
    EXPECT_EQ(settings.Get(row.app, row.section, row.key, "none"), row.expected);
    EXPECT_EQ(next_run.Get(row.app, row.section, row.key, "none"), row.expected);
  }
}

TEST(SettingsStore, SavingAValueKeepsTheOthers) {
  const kalo::test::SettingsRoot root;
  SettingsStore settings(root.Path());
  settings.Save("KALO", "config", "cliente", "old");
  settings.Save("KALO", "config", "servidor", "http://kalo");
  settings.Save("KALO", "janela", "cliente", "other section");
  settings.Save("KALO", "config", "CLIENTE", "new");
  settings.Save("KALO", "config", "proxy", "");
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", ""), "new");
  EXPECT_EQ(settings.Get("KALO", "config", "servidor", ""), "http://kalo");
  EXPECT_EQ(settings.Get("KALO", "janela", "cliente", ""), "other section");
  // An empty value is stored, not missing.
  EXPECT_EQ(settings.Get("KALO", "config", "proxy", "unset"), "");
}

TEST(SettingsStore, UnwritableRootIsAnError) {
  const kalo::test::SettingsRoot root;
  const std::string unwritable = root.Unwritable();
  SettingsStore settings(unwritable);
  try {
    settings.Save("KALO", "config", "cliente", "acme");
    ADD_FAILURE() << "saved below " << unwritable;
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Source(), "SettingsStore");
  }
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", "fallback"), "fallback");
}

}  // namespace
