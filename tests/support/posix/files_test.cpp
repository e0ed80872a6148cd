// The entries that only POSIX systems have: symbolic links and named pipes.
#include "support/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "helpers/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(FileExists, FollowsLinksToFilesButNeverMatchesPipes) {
  const kalo::test::TempFolder folder;
  const kalo::platform::FileSystem file_system;
  fs::create_symlink(folder.Write("target.txt", "x"), folder / "link.txt");
  fs::create_symlink(folder / "missing.txt", folder / "dangling.txt");
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  EXPECT_TRUE(cUpdate::FileExists(file_system, folder / "link.txt"));
  EXPECT_FALSE(cUpdate::FileExists(file_system, folder / "dangling.txt"));
  EXPECT_FALSE(cUpdate::FileExists(file_system, folder / "pipe"));
  EXPECT_FALSE(cUpdate::FileExists(file_system, folder / "pip?"));
}

}  // namespace
