#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "helpers/temp_folder.h"

namespace {

using kalo::test::ReadWholeFile;

TEST(SettingsStore, AnswersTheFallbackUntilSomethingIsStored) {
  const kalo::test::TempFolder folder;
  kalo::platform::SettingsStore settings(folder / "config");
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", "none"), "none");
  settings.Save("KALO", "config", "cliente", "acme corp");
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", "none"), "acme corp");
  EXPECT_EQ(settings.Get("KALO", "CONFIG", "Cliente", "none"), "acme corp");
  EXPECT_EQ(settings.Get("KALO", "other", "cliente", "none"), "none");
  EXPECT_EQ(settings.Get("OTHER", "config", "cliente", "none"), "none");
  EXPECT_EQ(ReadWholeFile(folder / "config/KALO/settings.ini"), "[config]\ncliente=acme corp\n");
}

TEST(SettingsStore, SavingKeepsEverythingElse) {
  const kalo::test::TempFolder folder;
  std::filesystem::create_directories(folder / "config/KALO");
  folder.Write("config/KALO/settings.ini",
               "; written by hand\n[config]\ncliente=old\nservidor=http://kalo\n[janela]\nx=1\n");
  kalo::platform::SettingsStore settings(folder / "config");
  settings.Save("KALO", "config", "CLIENTE", "new");
  settings.Save("KALO", "janela", "y", "2");
  settings.Save("KALO", "novo", "z", "line\nbreak");
  EXPECT_EQ(ReadWholeFile(folder / "config/KALO/settings.ini"),
            "; written by hand\n[config]\nCLIENTE=new\nservidor=http://kalo\n[janela]\nx=1\ny=2\n"
            "[novo]\nz=line break\n");
  EXPECT_EQ(settings.Get("KALO", "config", "servidor", ""), "http://kalo");
  // Only the settings file is there: the replacement went through a renamed temporary.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "config/KALO"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SettingsStore, ValuesOfAFileWithWindowsLineEndsKeepNoCarriageReturn) {
  const kalo::test::TempFolder folder;
  std::filesystem::create_directories(folder / "config/KALO");
  folder.Write("config/KALO/settings.ini", "[config]\r\ncliente=acme\r\nservidor=\r\n");
  kalo::platform::SettingsStore settings(folder / "config");
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", ""), "acme");
  EXPECT_EQ(settings.Get("KALO", "config", "servidor", "unset"), "");
}

TEST(SettingsStore, UnwritableRootIsAnError) {
  const kalo::test::TempFolder folder;
  const std::string file = folder.Write("a-file", "x");
  kalo::platform::SettingsStore settings(file);
  EXPECT_THROW(settings.Save("KALO", "config", "cliente", "acme"), std::exception);
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", "fallback"), "fallback");
}

}  // namespace
