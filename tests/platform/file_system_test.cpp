#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "helpers/links.h"
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
  file_system.FlushFile(data);
  EXPECT_EQ(fs::file_size(data), 1u << 20);
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);  // no temporary file stays behind
}

// Hands on the first piece of every file it reads, then fails, as a disk that goes
// away in the middle of a copy.
class FirstPieceOnly : public kalo::platform::FileSystem {
 public:
  void ReadFileInPieces(
      const std::string& path,
      const std::function<void(std::span<const std::byte>)>& take) const override {
    FileSystem::ReadFileInPieces(path, [&take](std::span<const std::byte> piece) {
      take(piece);
      throw kalo::Error(kalo::error_number::kIoError, "lost", "test");
    });
  }
};

TEST(FileSystem, CopyFileAtomicallyCopiesWholeFilesOrNothing) {
  const TempFolder folder;
  std::string content;  // Many pieces' worth, no two alike.
  for (int i = 0; content.size() < (1u << 20); ++i) {
    content += std::to_string(i) + ' ';
  }
  const std::string source = folder.Write("source.bin", content);
  const std::string target = folder.Write("target.bin", "old");
  const std::string fresh = folder / "fresh.bin";
  for (const std::string& to : {target, fresh}) {
    EXPECT_THROW(FirstPieceOnly().CopyFileAtomically(source, to, FilePermissions::kData),
                 kalo::Error);
  }
  kalo::platform::FileSystem file_system;
  EXPECT_THROW(file_system.CopyFileAtomically(folder / "missing", fresh, FilePermissions::kData),
               kalo::Error);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);  // no partial target, no temporary file

  file_system.CopyFileAtomically(source, target, FilePermissions::kData);
  EXPECT_EQ(ReadWholeFile(target), content);
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);
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
    kalo::platform::FileSystem file_system;
    const auto names = file_system.ListFolder(folder.Path().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(kalo::platform::IsAtomicFileTemporary(names[0])) << names[0];
    // A recovery that runs while the program ends at once finds it still open.
    EXPECT_NO_THROW(file_system.RemoveFile(folder / names[0]));
  }
  for (const char* other :
       {"logo.jpg", "notes.part-1", "x.part-abc-de", ".part-Ab12Cd", "a.part-"}) {
    EXPECT_FALSE(kalo::platform::IsAtomicFileTemporary(other)) << other;
  }
}

TEST(AtomicFile, ANewFileNeverTakesTheNameOfAnother) {
  const TempFolder folder;
  const std::string taken = folder.Write("taken.pem", "old");
  const struct {
    std::string target;
    int error;  // 0: committed
    std::string left;
  } cases[] = {
      {folder / "new.pem", 0, "new"},
      {taken, kalo::error_number::kFileAlreadyExists, "old"},
  };
  for (const auto& c : cases) {
    {
      kalo::platform::AtomicFile file(c.target);
      file.Write(Bytes("new"));
      try {
        file.CommitNew(FilePermissions::kOwnerOnly);
        EXPECT_EQ(c.error, 0) << c.target;
      } catch (const kalo::Error& error) {
        EXPECT_EQ(error.Number(), c.error) << error.Description();
      }
    }
    EXPECT_EQ(ReadWholeFile(c.target), c.left);
  }
  // The temporary names went with their writers.
  EXPECT_EQ(EntriesIn(folder.Path()), 2u);
}

// A kept file continues what an earlier writer left, outlives its writer, and is read
// back whole for the digest that must cover it.
TEST(AtomicFile, AKeptFileContinuesWhatItHeldAndStaysUntilCommitted) {
  const TempFolder folder;
  const std::string kept = folder / "kept";
  const std::string target = folder / "target.bin";
  const struct {
    std::optional<std::string> on_disk;
    std::uint64_t held;
    std::string continued;  // what the file holds when opened
  } cases[] = {
      {std::nullopt, 0, ""},
      {"abcdef", 4, "abcd"},  // written past the last record: dropped
      {"ab", 4, ""},          // less than recorded: nothing of it is trusted
      {"abcd", 4, "abcd"},
  };
  for (const auto& c : cases) {
    fs::remove(kalo::test::FromUtf8(kept));
    if (c.on_disk) {
      folder.Write("kept", *c.on_disk);
    }
    {
      kalo::platform::AtomicFile file(target, kept, c.held);
      EXPECT_EQ(file.Length(), c.continued.size());
      std::string read_back;
      file.ReadBack([&read_back](std::span<const std::byte> bytes) {
        read_back.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      });
      EXPECT_EQ(read_back, c.continued);
      file.Write(Bytes("XY"));
      EXPECT_EQ(file.Length(), c.continued.size() + 2);
    }
    EXPECT_EQ(ReadWholeFile(kept), c.continued + "XY");
  }
  {
    kalo::platform::AtomicFile file(target, kept, 6);
    file.Discard();
    file.Write(Bytes("whole"));
    file.Commit(FilePermissions::kData);
  }
  EXPECT_EQ(ReadWholeFile(target), "whole");
  EXPECT_FALSE(fs::exists(kalo::test::FromUtf8(kept)));
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

TEST(FileSystem, LinksAreToldApartAndNeverFollowedWhereRefused) {
  const TempFolder folder;
  const std::string target = folder.Write("target.txt", "elsewhere");
  fs::create_directory(folder.Path() / "target");
  if (!kalo::test::MakeSymbolicLink(folder.Path() / "file-link", target, false) ||
      !kalo::test::MakeSymbolicLink(folder.Path() / "folder-link", folder.Path() / "target",
                                    true) ||
      !kalo::test::MakeSymbolicLink(folder.Path() / "dangling", folder.Path() / "made", false)) {
    GTEST_SKIP() << "this system makes no symbolic links";
  }
  // A second name of the same file is a link too, where a file is only appended to.
  fs::create_hard_link(target, folder.Path() / "hard-link");
  kalo::platform::FileSystem file_system;
  EXPECT_EQ(file_system.OwnKindOf(folder / "file-link"), EntryKind::kLink);
  EXPECT_EQ(file_system.OwnKindOf(folder / "folder-link"), EntryKind::kLink);
  EXPECT_EQ(file_system.OwnKindOf(folder / "dangling"), EntryKind::kLink);
  EXPECT_EQ(file_system.OwnKindOf(target), EntryKind::kFile);
  EXPECT_EQ(file_system.OwnKindOf(folder / "target"), EntryKind::kFolder);
  EXPECT_EQ(file_system.OwnKindOf(folder / "missing"), std::nullopt);
  EXPECT_EQ(file_system.KindOf(folder / "folder-link"), EntryKind::kFolder);
  EXPECT_EQ(file_system.ReadFileNoFollow(target), "elsewhere");

  const struct {
    std::string link;
    std::function<void()> use;
    std::string source;
  } refused[] = {
      {"file-link", [&] { file_system.ReadFileNoFollow(folder / "file-link"); }, "FileSystem"},
      {"file-link", [&] { kalo::platform::FileLock::TryLock(folder / "file-link"); }, "FileLock"},
      {"dangling", [&] { kalo::platform::FileLock::TryLock(folder / "dangling"); }, "FileLock"},
      {"file-link", [&] { file_system.AppendToFile(folder / "file-link", Bytes("x")); },
       "FileSystem"},
      {"dangling", [&] { file_system.AppendToFile(folder / "dangling", Bytes("x")); },
       "FileSystem"},
      {"hard-link", [&] { file_system.AppendToFile(folder / "hard-link", Bytes("x")); },
       "FileSystem"},
      {"file-link", [&] { kalo::platform::AtomicFile(folder / "x", folder / "file-link", 0); },
       "AtomicFile"},
      {"dangling", [&] { kalo::platform::AtomicFile(folder / "x", folder / "dangling", 0); },
       "AtomicFile"},
      {"hard-link", [&] { kalo::platform::AtomicFile(folder / "x", folder / "hard-link", 9); },
       "AtomicFile"},
  };
  for (const auto& row : refused) {
    try {
      row.use();
      ADD_FAILURE() << row.link << " " << row.source << ": no error";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kPathFileAccess) << error.Description();
      EXPECT_NE(error.Description().find(folder / row.link), std::string::npos);
      EXPECT_EQ(error.Source(), row.source);
    }
  }
  // A lock through the link would have made its target.
  EXPECT_FALSE(fs::exists(folder.Path() / "made"));
  EXPECT_EQ(ReadWholeFile(target), "elsewhere");
}

TEST(FileSystem, AppendToFileAddsAtTheEndOfOrdinaryFilesOnly) {
  const TempFolder folder;
  kalo::platform::FileSystem file_system;
  EXPECT_EQ(file_system.AppendToFile(folder / "log", Bytes("one\n")), 4u);
  EXPECT_EQ(file_system.AppendToFile(folder / "log", Bytes("two\n")), 8u);
  EXPECT_EQ(ReadWholeFile(folder / "log"), "one\ntwo\n");
  fs::create_directory(folder.Path() / "folder");
  EXPECT_THROW(file_system.AppendToFile(folder / "folder", Bytes("x")), kalo::Error);
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
  EXPECT_THROW(file_system.FlushFile(folder / "missing"), kalo::Error);
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
