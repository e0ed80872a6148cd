// The install folder and paths in Windows syntax.
#include "platform/install_folder.h"

#include <gtest/gtest.h>

#include "helpers/environment.h"

namespace {

TEST(InstallFolder, WithoutKaloDirItIsOnTheSystemDrive) {
  const kalo::test::ScopedEnvironment folder("KALO_DIR", std::nullopt);
  EXPECT_EQ(kalo::platform::InstallFolder(), "C:\\KALO");
}

TEST(InstallFolder, WindowsPaths) {
  const struct {
    const char* folder;
    const char* name;
    const char* path;
  } cases[] = {
      {"C:\\KALO", "acme.exe", "C:\\KALO\\acme.exe"},
      {"C:\\KALO\\", "acme.exe", "C:\\KALO\\acme.exe"},
      {"C:/KALO/", "acme.exe", "C:/KALO/acme.exe"},
      {"C:\\", "acme.exe", "C:\\acme.exe"},
      {"KALO", "acme.exe", "KALO\\acme.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kalo::platform::PathInFolder(c.folder, c.name), c.path);
  }
  EXPECT_EQ(kalo::platform::FolderOf("C:\\acme.exe"), "C:\\");
  EXPECT_EQ(kalo::platform::FolderOf("C:\\KALO/acme.exe"), "C:\\KALO");
  EXPECT_EQ(kalo::platform::FolderOf("acme.exe"), ".");
  EXPECT_EQ(kalo::platform::FileNameOf("C:\\KALO\\acme.exe"), "acme.exe");
  EXPECT_EQ(kalo::platform::FileNameOf("C:/KALO/acme.exe"), "acme.exe");
  EXPECT_EQ(kalo::platform::FileNameOf("acme.exe"), "acme.exe");
}

}  // namespace
