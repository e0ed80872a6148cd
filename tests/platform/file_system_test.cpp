#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "helpers/temp_folder.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/file_lock.h"

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
  EXPECT_EQ(file_system.KindOf(folder / "missing"), std::nullopt);
  EXPECT_EQ(file_system.KindOf(folder / "file/below-a-file"), std::nullopt);
}

TEST(FileSystem, WriteFileAtomicallyReplacesWholeFiles) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  const std::string path = folder.Write("program.exe", "an old and longer content");
  file_system.WriteFileAtomically(path, Bytes("new"), FilePermissions::kExecutable);
  EXPECT_EQ(ReadWholeFile(path), "new");

  const std::string data = folder / "data.bin";
  file_system.WriteFileAtomically(data, Bytes(std::string(1 << 20, 'z')), FilePermissions::kData);
  EXPECT_EQ(fs::file_size(data), 1u << 20);
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);  // no temporary file stays behind
}

TEST(FileSystem, ListsEveryNameAndReadsWholeFiles) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  folder.Write(".hidden", "");
  const std::string big = folder.Write("big.bin", std::string(100000, 'b') + "end");
  fs::create_directory(folder / "sub");
  auto names = file_system.ListFolder(folder.Path().string());
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "big.bin", "sub"}));
  EXPECT_EQ(file_system.ReadFile(big), ReadWholeFile(big));
  EXPECT_THROW(file_system.ReadFile(folder / "missing"), kalo::Error);
  EXPECT_THROW(file_system.ListFolder(big), kalo::Error);
}

TEST(AtomicFile, ItsTemporaryNamesAreKnownAndNothingElse) {
  const TempFolder folder;
  {
    // A writer that never commits, as one killed in the middle.
    kalo::platform::AtomicFile pending(folder / "logo-jpg-1.jpg");
    const auto names = kalo::platform::FileSystem().ListFolder(folder.Path().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(kalo::platform::IsAtomicFileTemporary(names[0])) << names[0];
  }
  for (const char* other :
       {"logo.jpg", "notes.part-1", "x.part-abc-de", ".part-Ab12Cd", "a.part-"}) {
    EXPECT_FALSE(kalo::platform::IsAtomicFileTemporary(other)) << other;
  }
}

TEST(FileLock, OneHolderAtATimeUntilItLetsGo) {
  const TempFolder folder;
  const std::string path = folder / "lock";
  {
    const auto first = kalo::platform::FileLock::TryLock(path);
    ASSERT_TRUE(first);
    EXPECT_FALSE(kalo::platform::FileLock::TryLock(path));
  }
  EXPECT_TRUE(kalo::platform::FileLock::TryLock(path));
  EXPECT_THROW(kalo::platform::FileLock::TryLock(folder / "missing/lock"), kalo::Error);
}

TEST(FileSystem, FailuresCarryNumberDescriptionAndSource) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  try {
    file_system.WriteFileAtomically(folder / "missing/x.exe", Bytes("x"), FilePermissions::kData);
    FAIL() << "expected an error";
  } catch (const kalo::Error& error) {
    // Windows tells a missing folder from a missing file; POSIX systems cannot.
    EXPECT_TRUE(error.Number() == kalo::error_number::kFileNotFound ||
                error.Number() == kalo::error_number::kPathNotFound)
        << error.Number();
    EXPECT_NE(error.Description().find(folder / "missing/x.exe"), std::string::npos);
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
