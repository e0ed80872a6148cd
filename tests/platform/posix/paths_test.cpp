// Folders as POSIX systems compare them: byte for byte, once links are resolved.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "helpers/temp_folder.h"

namespace {

TEST(IsSameFolder, FollowsLinksAndMindsLetterCase) {
  const kalo::test::TempFolder folder;
  std::filesystem::create_directory(folder.Path() / "Kalo");
  std::filesystem::create_directory(folder.Path() / "kalo");
  std::filesystem::create_directory_symlink(folder.Path() / "Kalo", folder.Path() / "link");
  const struct {
    std::string other;
    bool same;
  } cases[] = {
      {folder / "Kalo", true}, {folder / "Kalo/", true}, {folder / "kalo/../Kalo", true},
      {folder / "link", true}, {folder / "kalo", false}, {folder / "missing", false},
      {folder.Path(), false},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(kalo::platform::IsSameFolder(folder / "Kalo", row.other), row.same) << row.other;
  }
}

}  // namespace
