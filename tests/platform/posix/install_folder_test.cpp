// The install folder and paths in POSIX syntax.
#include "platform/install_folder.h"

#include <gtest/gtest.h>

#include "helpers/environment.h"

namespace {

using kalo::test::ScopedEnvironment;

TEST(InstallFolder, WithoutKaloDirItIsInTheHomeFolder) {
  const ScopedEnvironment home("HOME", "/home/someone");
  const ScopedEnvironment folder("KALO_DIR", std::nullopt);
  EXPECT_EQ(kalo::platform::InstallFolder(), "/home/someone/KALO");
}

TEST(InstallFolder, PosixPaths) {
  const struct {
    const char* folder;
    const char* name;
    const char* path;
  } cases[] = {
      {"/opt/kalo", "acme.exe", "/opt/kalo/acme.exe"},
      {"/opt/kalo/", "acme.exe", "/opt/kalo/acme.exe"},
      {"/", "acme.exe", "/acme.exe"},
      {"kalo", "acme.exe", "kalo/acme.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kalo::platform::PathInFolder(c.folder, c.name), c.path);
  }
  EXPECT_EQ(kalo::platform::FolderOf("/acme.exe"), "/");
  EXPECT_EQ(kalo::platform::FolderOf("acme.exe"), ".");
  EXPECT_EQ(kalo::platform::FileNameOf("/opt/kalo/acme.exe"), "acme.exe");
  EXPECT_EQ(kalo::platform::FileNameOf("acme.exe"), "acme.exe");
}

}  // namespace
