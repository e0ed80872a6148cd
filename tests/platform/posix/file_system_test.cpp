// What only POSIX systems have: special files and the modes of written files.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "helpers/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using kalo::platform::FilePermissions;

TEST(FileSystem, KindOfSpecialFilesIsOther) {
  const kalo::test::TempFolder folder;
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  const kalo::platform::FileSystem file_system;
  EXPECT_EQ(file_system.KindOf("/dev/null"), kalo::platform::EntryKind::kOther);
  EXPECT_EQ(file_system.KindOf(folder / "pipe"), kalo::platform::EntryKind::kOther);
}

TEST(FileSystem, WriteFileAtomicallyGivesTheModeOfItsKind) {
  const kalo::test::TempFolder folder;
  kalo::platform::FileSystem file_system;
  const struct {
    const char* name;
    FilePermissions permissions;
    fs::perms mode;
  } cases[] = {{"program.exe", FilePermissions::kExecutable, fs::perms(0755)},
               {"data.bin", FilePermissions::kData, fs::perms(0644)},
               {"key.pem", FilePermissions::kOwnerOnly, fs::perms(0600)}};
  for (const auto& c : cases) {
    // Written over a file of another mode, which must not carry over.
    const std::string path = folder.Write(c.name, "old");
    fs::permissions(path, fs::perms(0640));
    file_system.WriteFileAtomically(path, std::as_bytes(std::span("new", 3)), c.permissions);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, c.mode) << c.name;
  }
}

}  // namespace
