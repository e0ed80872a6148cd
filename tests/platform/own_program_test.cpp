#include "platform/own_program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_version.h"

namespace {

TEST(OwnProgram, FilePathNamesThisProgram) {
  const std::filesystem::path own = kalo::platform::OwnFilePath();
  EXPECT_TRUE(own.is_absolute());
  EXPECT_EQ(own.stem(), "kalo_tests");  // on Windows with ".exe"
  EXPECT_TRUE(std::filesystem::is_regular_file(own));
}

TEST(OwnProgram, VersionEqualsTheOneInItsFile) {
  const auto from_file = kalo::platform::ReadFileVersion(kalo::platform::OwnFilePath());
  ASSERT_TRUE(from_file.has_value());
  EXPECT_EQ(*from_file, kalo::platform::OwnVersion());
  EXPECT_EQ(from_file->build, 0);
}

}  // namespace
