#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "helpers/fake_ui.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace kalo::test {
std::span<const platform::CarriedResource> CarriedTestResources();
}

namespace {

using kalo::test::ReadWholeFile;
using kalo::test::TempFolder;

namespace fs = std::filesystem;

class FileExistsTest : public testing::Test {
 protected:
  FileExistsTest() {
    folder_.Write("acme-exe-201012011530.zip", "zip");
    folder_.Write("read only.txt", "x");
    fs::permissions(folder_ / "read only.txt", fs::perms::owner_read);
    folder_.Write(".hidden", "x");
    folder_.Write("[brackets].txt", "x");
    fs::create_directory(folder_.Path() / "subfolder");
  }

  bool Exists(const std::string& path) const { return cUpdate::FileExists(fs_, path); }

  TempFolder folder_;
  kalo::platform::FileSystem fs_;
};

TEST_F(FileExistsTest, OrdinaryFilesOnly) {
  EXPECT_TRUE(Exists(folder_ / "acme-exe-201012011530.zip"));
  EXPECT_TRUE(Exists(folder_ / "read only.txt"));
  EXPECT_TRUE(Exists(folder_ / "[brackets].txt"));
  EXPECT_FALSE(Exists(folder_ / "missing.txt"));
  EXPECT_FALSE(Exists(folder_ / "missing/inside.txt"));
  EXPECT_FALSE(Exists(folder_ / "subfolder"));
  EXPECT_FALSE(Exists(folder_ / ".hidden"));
  EXPECT_FALSE(Exists(kalo::platform::PathInFolder(folder_.Path().string(), "")));
}

TEST_F(FileExistsTest, BlankPathsAreNoFile) {
  EXPECT_FALSE(Exists(""));
  EXPECT_FALSE(Exists("   "));
}

TEST_F(FileExistsTest, WildcardsMatch) {
  EXPECT_TRUE(Exists(folder_ / "acme-*.zip"));
  EXPECT_TRUE(Exists(folder_ / "acme-exe-20101201153?.zip"));
  EXPECT_TRUE(Exists(folder_ / "*.txt"));
  EXPECT_FALSE(Exists(folder_ / "*.exe"));
  EXPECT_FALSE(Exists(folder_ / "subfold*"));  // a folder never matches
  EXPECT_FALSE(Exists(folder_ / "*hidden"));   // nor does a hidden file
  EXPECT_FALSE(Exists(folder_ / "[b]rackets].*"));
  EXPECT_FALSE(Exists(folder_ / "missing/*"));
}

// Removing always fails, as it does for a file another process holds open.
class StubbornFileSystem : public kalo::platform::FileSystem {
 public:
  void RemoveFile(const std::string& path) override {
    ++remove_attempts;
    throw kalo::Error(kalo::error_number::kPermissionDenied, "in use: " + path, "test");
  }
  int remove_attempts = 0;
};

TEST(DeleteLocalFile, RemovesTheFile) {
  const TempFolder folder;
  kalo::platform::FileSystem fs;
  const std::string path = folder.Write("old.jpg", "old");
  EXPECT_TRUE(cUpdate::DeleteLocalFile(fs, path));
  EXPECT_FALSE(fs::exists(path));
}

TEST(DeleteLocalFile, MissingFileCountsAsDeleted) {
  const TempFolder folder;
  StubbornFileSystem fs;
  EXPECT_TRUE(cUpdate::DeleteLocalFile(fs, folder / "never-there.jpg"));
  EXPECT_EQ(fs.remove_attempts, 0);
}

TEST(DeleteLocalFile, GivesUpAfterSixAttempts) {
  const TempFolder folder;
  StubbornFileSystem fs;
  const std::string path = folder.Write("locked.exe", "busy");
  EXPECT_FALSE(cUpdate::DeleteLocalFile(fs, path));
  EXPECT_EQ(fs.remove_attempts, 6);
  EXPECT_TRUE(fs::exists(path));
}

TEST(EnsureFolder, CreatesOneMissingLevel) {
  const TempFolder folder;
  kalo::platform::FileSystem fs;
  const std::string install = folder / "KALO";
  EXPECT_TRUE(cUpdate::EnsureFolder(fs, install));
  EXPECT_TRUE(fs::is_directory(install));
  folder.Write("KALO/keep.txt", "kept");
  EXPECT_TRUE(cUpdate::EnsureFolder(fs, install));
  EXPECT_EQ(ReadWholeFile(kalo::platform::PathInFolder(install, "keep.txt")), "kept");
}

TEST(EnsureFolder, FailsWithoutParentOrWithAFileInTheWay) {
  const TempFolder folder;
  kalo::platform::FileSystem fs;
  EXPECT_FALSE(cUpdate::EnsureFolder(fs, folder / "no-parent/KALO"));
  EXPECT_FALSE(fs::exists(folder / "no-parent"));
  const std::string file = folder.Write("KALO", "a plain file");
  EXPECT_FALSE(cUpdate::EnsureFolder(fs, file));
  EXPECT_EQ(ReadWholeFile(file), "a plain file");
}

class ExtractResourceTest : public testing::Test {
 protected:
  bool Extract(const std::string& name, const std::string& target) {
    return cUpdate::ExtractResource(fs_, resources_, ui_, name, target);
  }

  TempFolder folder_;
  kalo::platform::FileSystem fs_;
  kalo::platform::CarriedResources resources_{kalo::test::CarriedTestResources()};
  kalo::test::FakeUi ui_;
};

TEST_F(ExtractResourceTest, WritesAnExecutableCopy) {
  const std::string target = folder_ / "unzip32.exe";
  EXPECT_TRUE(Extract("text.bin", target));
  EXPECT_EQ(ReadWholeFile(target), "carried bytes\n");
  EXPECT_NE(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_TRUE(Extract("EMPTY.BIN", folder_ / "empty.exe"));
  EXPECT_EQ(fs::file_size(folder_ / "empty.exe"), 0u);
  EXPECT_TRUE(ui_.messages.empty());
  // Nothing but the two targets is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Path()), fs::directory_iterator()), 2);
}

TEST_F(ExtractResourceTest, LeavesAnExistingTargetAlone) {
  const std::string target = folder_.Write("zip32.exe", "something else");
  EXPECT_TRUE(Extract("TEXT.BIN", target));
  EXPECT_EQ(ReadWholeFile(target), "something else");
}

TEST_F(ExtractResourceTest, UnknownResourceEndsTheProgram) {
  try {
    Extract("NOSUCH.DLL", folder_ / "nosuch.exe");
    FAIL() << "the program should have ended";
  } catch (const kalo::test::ProgramEnded& ended) {
    EXPECT_NE(ended.exit_status, 0);
  }
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_TRUE(ui_.messages[0].text.starts_with("Erro Ao baixar Recurso: "));
  EXPECT_NE(ui_.messages[0].text.find("NOSUCH.DLL"), std::string::npos);
  EXPECT_EQ(ui_.messages[0].style, kalo::platform::MessageStyle::kError);
  EXPECT_FALSE(fs::exists(folder_ / "nosuch.exe"));
}

TEST_F(ExtractResourceTest, UnwritableTargetEndsTheProgram) {
  const std::string target = folder_ / "missing-folder/unzip32.exe";
  EXPECT_THROW(Extract("TEXT.BIN", target), kalo::test::ProgramEnded);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_TRUE(ui_.messages[0].text.starts_with("Erro: "));
  EXPECT_NE(ui_.messages[0].text.find("missing-folder"), std::string::npos);
}

}  // namespace
