#include "platform/install_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "helpers/environment.h"
#include "helpers/temp_folder.h"

namespace {

using kalo::test::ScopedEnvironment;

TEST(InstallFolder, KaloDirNamesItUnlessEmpty) {
  {
    const ScopedEnvironment set("KALO_DIR", "/opt/kalo");
    EXPECT_EQ(kalo::platform::InstallFolder(), "/opt/kalo");
  }
  std::string without;
  {
    const ScopedEnvironment unset("KALO_DIR", std::nullopt);
    without = kalo::platform::InstallFolder();
  }
  EXPECT_TRUE(without.ends_with("KALO")) << without;
  const ScopedEnvironment empty("KALO_DIR", "");
  EXPECT_EQ(kalo::platform::InstallFolder(), without);
}

// Whatever the system's syntax, a path made in a folder splits into that folder and
// the name again.
TEST(InstallFolder, PathsInFoldersSplitIntoTheirParts) {
  const kalo::test::TempFolder temp;
  for (const std::string& folder : {temp.Path().string(), temp / "KALO", temp / "Program Files"}) {
    for (const char* name : {"acme.exe", "acme corp.exe", ".kalo_upd"}) {
      const std::string path = kalo::platform::PathInFolder(folder, name);
      EXPECT_EQ(kalo::platform::FolderOf(path), folder) << path;
      EXPECT_EQ(kalo::platform::FileNameOf(path), name) << path;
    }
  }
}

}  // namespace
