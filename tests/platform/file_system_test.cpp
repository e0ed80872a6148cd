#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "helpers/temp_folder.h"
#include "platform/error.h"

namespace {

using kalo::platform::EntryKind;
using kalo::platform::FilePermissions;
using kalo::test::ReadWholeFile;
using kalo::test::TempFolder;

namespace fs = std::filesystem;

std::vector<std::byte> Bytes(std::string_view text) {
  const auto view = std::as_bytes(std::span(text.data(), text.size()));
  return {view.begin(), view.end()};
}

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(FileSystem, KindOf) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  EXPECT_EQ(file_system.KindOf(folder.Write("file", "x")), EntryKind::kFile);
  EXPECT_EQ(file_system.KindOf(folder.Path().string()), EntryKind::kFolder);
  EXPECT_EQ(file_system.KindOf("/dev/null"), EntryKind::kOther);
  EXPECT_EQ(file_system.KindOf(folder / "missing"), std::nullopt);
  EXPECT_EQ(file_system.KindOf(folder / "file/below-a-file"), std::nullopt);
}

TEST(FileSystem, WriteFileAtomicallyReplacesWholeFiles) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  const std::string path = folder.Write("program.exe", "an old and longer content");
  file_system.WriteFileAtomically(path, Bytes("new"), FilePermissions::kExecutable);
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0755));

  const std::string data = folder / "data.bin";
  file_system.WriteFileAtomically(data, Bytes(std::string(1 << 20, 'z')), FilePermissions::kData);
  EXPECT_EQ(fs::file_size(data), 1u << 20);
  EXPECT_EQ(fs::status(data).permissions() & fs::perms::all, fs::perms(0644));
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);  // no temporary file stays behind
}

TEST(FileSystem, FailuresCarryNumberDescriptionAndSource) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  try {
    file_system.WriteFileAtomically(folder / "missing/x.exe", Bytes("x"), FilePermissions::kData);
    FAIL() << "expected an error";
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kFileNotFound);
    EXPECT_NE(error.Description().find("missing/x.exe"), std::string::npos);
    EXPECT_EQ(error.Source(), "AtomicFile");
  }
  try {
    file_system.CreateFolder(folder.Path().string());
    FAIL() << "expected an error";
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kFileAlreadyExists);
  }
  EXPECT_THROW(file_system.RemoveFile(folder / "missing"), kalo::Error);
  // A folder where a file is expected.
  fs::create_directory(folder / "taken.exe");
  EXPECT_THROW(
      file_system.WriteFileAtomically(folder / "taken.exe", Bytes("x"), FilePermissions::kData),
      kalo::Error);
  EXPECT_EQ(EntriesIn(folder.Path()), 1u);
}

TEST(FileSystem, FindFileAnswersTheFirstNameInOrder) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  folder.Write("b.txt", "");
  folder.Write("a.txt", "");
  EXPECT_EQ(file_system.FindFile(folder / "?.txt"), "a.txt");
  EXPECT_EQ(file_system.FindFile(folder / "b.txt"), "b.txt");
}

}  // namespace
