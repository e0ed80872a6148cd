// The settings file itself, as people and older versions read and write it.
#include <gtest/gtest.h>

#include <filesystem>

#include "helpers/temp_folder.h"
#include "platform/settings_store.h"

namespace {

using kalo::test::ReadWholeFile;

TEST(SettingsStoreIni, OneFilePerApplicationWithItsSections) {
  const kalo::test::TempFolder folder;
  kalo::platform::SettingsStore settings(folder / "config");
  settings.Save("KALO", "config", "cliente", "acme corp");
  EXPECT_EQ(ReadWholeFile(folder / "config/KALO/settings.ini"), "[config]\ncliente=acme corp\n");
}

TEST(SettingsStoreIni, SavingKeepsEverythingElse) {
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
  // Only the settings file is there: the replacement went through a renamed temporary.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "config/KALO"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SettingsStoreIni, ValuesOfAFileWithWindowsLineEndsKeepNoCarriageReturn) {
  const kalo::test::TempFolder folder;
  std::filesystem::create_directories(folder / "config/KALO");
  folder.Write("config/KALO/settings.ini", "[config]\r\ncliente=acme\r\nservidor=\r\n");
  kalo::platform::SettingsStore settings(folder / "config");
  EXPECT_EQ(settings.Get("KALO", "config", "cliente", ""), "acme");
  EXPECT_EQ(settings.Get("KALO", "config", "servidor", "unset"), "");
}

}  // namespace
