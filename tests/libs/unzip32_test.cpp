// Wiz_SingleEntryUnzip on real archives built with libzip and libarchive, extracting into
// temp folders.
#include "unzip32.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "helpers/archive_builder.h"
#include "helpers/libarchive_zip.h"
#include "helpers/temp_folder.h"

namespace kalo::test {
namespace {

namespace fs = std::filesystem;
using Files = std::set<std::string>;

constexpr std::time_t kTime = 1700000000;  // Even, so the DOS time keeps it exactly.

// What the callbacks saw. They get no context pointer, so the running test sets this one.
struct Recorder {
  std::string printed;
  std::deque<int32_t> replace_answers;
  std::vector<std::string> replace_asked;
  std::deque<std::string> passwords;  // An empty answer refuses.
  std::vector<std::string> password_asked;
  std::vector<std::string> listed;
  std::string listed_time;  // Of the last entry listed.
  std::vector<std::string> serviced;
  std::size_t abort_at_service = 0;
  bool abort_print = false;
};
Recorder* recorder = nullptr;

int32_t OnPrint(const char* text, uint32_t length) {
  recorder->printed.append(text, length);
  return recorder->abort_print ? 1 : 0;
}
int32_t OnReplace(char* name) {
  recorder->replace_asked.emplace_back(name);
  if (recorder->replace_answers.empty()) {
    return 0;
  }
  const int32_t answer = recorder->replace_answers.front();
  recorder->replace_answers.pop_front();
  return answer;
}
int32_t OnPassword(char* buffer, int32_t size, const char*, const char* entry) {
  recorder->password_asked.emplace_back(entry);
  std::string answer;
  if (!recorder->passwords.empty()) {
    answer = recorder->passwords.front();
    recorder->passwords.pop_front();
  }
  std::strncpy(buffer, answer.c_str(), static_cast<std::size_t>(size));
  return answer.empty() ? 1 : 0;
}
void OnList(int32_t size, uint32_t, uint16_t, uint16_t month, uint16_t day, uint16_t year,
            uint16_t hour, uint16_t minute, uint8_t is_folder, const char* name, const char* method,
            uint32_t, uint8_t encrypted) {
  char line[200];
  std::snprintf(line, sizeof line, "%s %d %s%s%s", name, size, method, is_folder ? " folder" : "",
                encrypted ? " encrypted" : "");
  recorder->listed.emplace_back(line);
  std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
  recorder->listed_time = line;
}
int32_t OnService(const char* name, uint32_t length) {
  recorder->serviced.emplace_back(name, length);
  return recorder->serviced.size() == recorder->abort_at_service ? 1 : 0;
}

// Everything below `root`, folders with a trailing slash and links with " ->".
Files Tree(const fs::path& root) {
  Files files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string name = item.path().lexically_relative(root).string();
    name += item.is_symlink() ? " ->" : item.is_directory() ? "/" : "";
    files.insert(name);
  }
  return files;
}

// A file's bytes, read in one piece: ReadWholeFile takes seconds over the large entries
// in a Debug build.
std::string ReadLarge(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) {
    return "(no file)";
  }
  std::string bytes(size, '\0');
  std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

void SetMtime(const std::string& path, std::time_t mtime) {
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Sets the process umask for one test, so expected modes do not depend on the caller's.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;
  ~UmaskGuard() { ::umask(old_); }

 private:
  mode_t old_;
};

class Unzip32Test : public ::testing::Test {
 protected:
  Unzip32Test() {
    recorder = &calls_;
    // The values of the updater's own call.
    command_.MessageLevel = 2;
    command_.OverWriteFiles = 1;
    command_.CaseSensitive = 1;
    command_.ExtractDir = out_.c_str();
  }
  ~Unzip32Test() override { recorder = nullptr; }

  int32_t Unzip(const std::string& archive, std::vector<std::string> includes = {},
                std::vector<std::string> excludes = {}) {
    const auto slots = [](std::vector<std::string>& names) {
      std::vector<char*> list(UNZIP32_NAME_LIST_SLOTS, nullptr);
      std::transform(names.begin(), names.end(), list.begin(), [](auto& n) { return n.data(); });
      return list;
    };
    command_.ZipFileName = archive.c_str();
    return Wiz_SingleEntryUnzip(static_cast<int32_t>(includes.size()), slots(includes).data(),
                                static_cast<int32_t>(excludes.size()), slots(excludes).data(),
                                &command_, &callbacks_);
  }
  std::string Out(const std::string& name) const { return out_ + "/" + name; }

  TempFolder temp_;
  std::string out_ = temp_ / "out";
  std::string zip_ = temp_ / "test.zip";
  Recorder calls_;
  UnzipCommand command_{};
  UnzipCallbacks callbacks_{OnPrint, nullptr, OnReplace, OnPassword, OnList, OnService,
                            0,       0,       0,         0,          0};
};

TEST_F(Unzip32Test, WritesFilesFlatOrInTheirStoredFolders) {
  ArchiveBuilder()
      .AddFile("top.txt", "top")
      .AddFolder("dir")
      .AddFile("dir/sub/run.sh", "#!/bin/sh\n", EntryOptions().Mtime(kTime).Mode(0755))
      .Write(zip_);
  for (const int32_t honor : {0, 1}) {
    SCOPED_TRACE(honor);
    fs::remove_all(out_);
    command_.HonorDirectories = honor;
    ASSERT_EQ(Unzip(zip_), UNZIP32_OK);
    const std::string script = honor ? "dir/sub/run.sh" : "run.sh";
    EXPECT_EQ(Tree(out_), (honor ? Files{"top.txt", "dir/", "dir/sub/", "dir/sub/run.sh"}
                                 : Files{"top.txt", "run.sh"}));
    EXPECT_EQ(ReadWholeFile(Out(script)), "#!/bin/sh\n");
    EXPECT_EQ(ReadWholeFile(Out("top.txt")), "top");
    struct stat info {};
    ASSERT_EQ(::stat(Out(script).c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, kTime);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    EXPECT_NE(calls_.printed.find("  inflating: " + script + "\n"), std::string::npos);
  }
}

TEST_F(Unzip32Test, NameListsSelectEntries) {
  ArchiveBuilder()
      .AddFile("a.txt", "a")
      .AddFile("B.TXT", "b")
      .AddFile("c.bin", "c")
      .AddFile("docs/d.txt", "d")
      .Write(zip_);
  struct Case {
    std::vector<std::string> includes, excludes;
    int32_t case_sensitive;
    Files written;
    int32_t result;
  } cases[] = {
      {{"*.txt"}, {}, 1, {"a.txt", "d.txt"}, UNZIP32_OK},
      {{"*.txt"}, {}, 0, {"a.txt", "B.TXT", "d.txt"}, UNZIP32_OK},
      {{"?.bin", "[ab].*"}, {}, 1, {"a.txt", "c.bin"}, UNZIP32_OK},
      {{}, {"*.TXT"}, 0, {"c.bin"}, UNZIP32_OK},
      {{"*.txt"}, {"docs/*"}, 1, {"a.txt"}, UNZIP32_OK},
      {{"a.txt", "*.exe"}, {}, 1, {"a.txt"}, UNZIP32_WARNING},
      {{"A.TXT"}, {}, 1, {}, UNZIP32_NO_MATCH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.includes.empty() ? c.excludes[0] : c.includes[0]);
    fs::remove_all(out_);
    fs::create_directory(out_);
    command_.CaseSensitive = c.case_sensitive;
    EXPECT_EQ(Unzip(zip_, c.includes, c.excludes), c.result);
    EXPECT_EQ(Tree(out_), c.written);
  }
}

TEST_F(Unzip32Test, ExistingFilesAreKeptReplacedAskedForOrFreshened) {
  const EntryOptions at_time = EntryOptions().Mtime(kTime);
  ArchiveBuilder()
      .AddFile("older.txt", "new", at_time)
      .AddFile("newer.txt", "new", at_time)
      .AddFile("absent.txt", "new", at_time)
      .AddFile("same.txt", "new", at_time)
      .Write(zip_);
  // "same.txt" is exactly as old as its entry; the replace callback answers 0 (keep)
  // once its scripted answers run out.
  struct Case {
    int32_t overwrite, prompt, freshen, update;
    std::deque<int32_t> answers;
    std::string older, newer, same;
    bool absent_written;
    std::size_t asked;
  } cases[] = {
      {0, 0, 0, 0, {}, "old", "old", "old", true, 0},
      {1, 0, 0, 0, {}, "new", "new", "new", true, 0},
      {0, 1, 0, 0, {UNZIP32_REPLACE_YES, UNZIP32_REPLACE_NO}, "new", "old", "old", true, 3},
      {0, 1, 0, 0, {UNZIP32_REPLACE_NO, UNZIP32_REPLACE_YES}, "old", "new", "old", true, 3},
      {0, 1, 0, 0, {UNZIP32_REPLACE_NONE}, "old", "old", "old", true, 1},
      {0, 0, 1, 0, {}, "new", "old", "old", false, 0},
      {0, 0, 0, 1, {}, "new", "old", "old", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    fs::remove_all(out_);
    fs::create_directory(out_);
    SetMtime(temp_.Write("out/older.txt", "old"), kTime - 100);
    SetMtime(temp_.Write("out/newer.txt", "old"), kTime + 100);
    SetMtime(temp_.Write("out/same.txt", "old"), kTime);
    calls_.replace_asked.clear();
    calls_.replace_answers = c.answers;
    command_.OverWriteFiles = c.overwrite;
    command_.PromptOverwrite = c.prompt;
    command_.ExtractOnlyNewer = c.freshen;
    command_.ExtractNewer = c.update;
    EXPECT_EQ(Unzip(zip_), UNZIP32_OK);
    EXPECT_EQ(ReadWholeFile(Out("older.txt")), c.older);
    EXPECT_EQ(ReadWholeFile(Out("newer.txt")), c.newer);
    EXPECT_EQ(ReadWholeFile(Out("same.txt")), c.same);
    EXPECT_EQ(fs::exists(Out("absent.txt")), c.absent_written);
    ASSERT_EQ(calls_.replace_asked.size(), c.asked);
    if (c.asked > 0) {
      EXPECT_EQ(calls_.replace_asked[0], Out("older.txt"));
    }
  }
}

TEST_F(Unzip32Test, ModesComeFromTheEntryOrItsNameOrTheFileItReplaces) {
  // Group write survives umask 002, so a stored 0777 stays apart from 0755.
  const UmaskGuard umask_guard(002);
  const EntryOptions no_mode = EntryOptions().NoUnixMode();
  struct Case {
    std::string name;
    EntryOptions options;
    std::optional<mode_t> existing;  // The mode of a file already in place.
    mode_t written;
  } cases[] = {
      {"tool.exe", no_mode, std::nullopt, 0755},
      {"TOOL.EXE", no_mode, std::nullopt, 0755},
      {"setup.exe", no_mode, 0600, 0755},
      {"data.txt", no_mode, std::nullopt, 0644},
      {"kept.txt", no_mode, 0755, 0755},
      {"stored.txt", EntryOptions().Mode(0640), 0755, 0640},
      {"setuid", EntryOptions().Mode(04755), std::nullopt, 0755},
      {"setgid", EntryOptions().Mode(02755), std::nullopt, 0755},
      {"sticky", EntryOptions().Mode(01777), std::nullopt, 0775},
  };
  ArchiveBuilder archive;
  fs::create_directory(out_);
  for (const Case& c : cases) {
    archive.AddFile(c.name, "new", c.options);
    if (c.existing) {
      fs::permissions(temp_.Write("out/" + c.name, "old"), static_cast<fs::perms>(*c.existing));
    }
  }
  ASSERT_EQ(Unzip(archive.Write(zip_)), UNZIP32_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat info {};
    ASSERT_EQ(::stat(Out(c.name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.written);
    EXPECT_EQ(ReadWholeFile(Out(c.name)), "new");
  }
}

TEST_F(Unzip32Test, ReadOnlyModesWriteNothing) {
  ArchiveBuilder()
      .AddFolder("docs")
      .AddFile("s.bin", "x", EntryOptions().Stored().Encrypted(Encryption::kAes256, "pw"))
      .AddFile("docs/a.txt", "alpha\n", EntryOptions().Mtime(kTime).Stored())
      .SetComment("The comment.")
      .Write(zip_);
  calls_.passwords = {"pw"};
  command_.TestZip = 1;
  EXPECT_EQ(Unzip(zip_), UNZIP32_OK);
  EXPECT_NE(calls_.printed.find("    testing: docs/a.txt   OK\n"), std::string::npos);
  EXPECT_EQ(calls_.password_asked, std::vector<std::string>{"s.bin"});

  command_ = {};
  command_.WriteToStdOut = 1;
  command_.DisplayComment = 1;
  calls_.printed.clear();
  EXPECT_EQ(Unzip(zip_, {"docs/a.txt"}), UNZIP32_OK);
  EXPECT_EQ(calls_.printed, "The comment.\nalpha\n");
  EXPECT_EQ(callbacks_.CommentLength, 12u);

  command_ = {};
  command_.ExtractList = 1;
  EXPECT_EQ(Unzip(zip_), UNZIP32_OK);
  EXPECT_EQ(calls_.listed,
            (std::vector<std::string>{"docs/ 0 Stored folder", "s.bin 1 Stored encrypted",
                                      "docs/a.txt 6 Stored"}));
  std::tm local{};
  localtime_r(&kTime, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
  EXPECT_EQ(calls_.listed_time, when);
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(Unzip32Test, NamesAndLineEndsConvertOnRequest) {
  const std::string binary("a\nb\0c", 5);
  ArchiveBuilder()
      .AddFile("read me.txt", "one\ntwo\r\nthree\rfour\n")
      .AddFile("data.bin", binary)
      .Write(zip_);
  command_.SpaceToUnderScore = 1;
  command_.ConvertCRtoCRLF = 1;
  ASSERT_EQ(Unzip(zip_), UNZIP32_OK);
  EXPECT_EQ(Tree(out_), (Files{"read_me.txt", "data.bin"}));
  EXPECT_EQ(ReadWholeFile(Out("read_me.txt")), "one\r\ntwo\r\nthree\r\nfour\r\n");
  EXPECT_EQ(ReadWholeFile(Out("data.bin")), binary);
}

TEST_F(Unzip32Test, EncryptedEntriesAskForThePassword) {
  struct Case {
    Encryption encryption;
    std::deque<std::string> answers;
    int32_t result;
    std::size_t asks;
    Files tree;
  } cases[] = {
      // The first good password serves the second entry too.
      {Encryption::kAes256, {"pw"}, UNZIP32_OK, 1, {"a.txt", "b.txt"}},
      {Encryption::kTraditional, {"pw"}, UNZIP32_OK, 1, {"a.txt", "b.txt"}},
      {Encryption::kAes256, {"no", "pw"}, UNZIP32_OK, 2, {"a.txt", "b.txt"}},
      {Encryption::kAes256, {""}, UNZIP32_BAD_PASSWORD, 2, {}},
      {Encryption::kAes256, {"no", "no", "no", "pw"}, UNZIP32_BAD_PASSWORD, 4, {"b.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.front());
    const EntryOptions options = EntryOptions().Encrypted(c.encryption, "pw");
    ArchiveBuilder().AddFile("a.txt", "A", options).AddFile("b.txt", "B", options).Write(zip_);
    fs::remove_all(out_);
    calls_.passwords = c.answers;
    calls_.password_asked.clear();
    EXPECT_EQ(Unzip(zip_), c.result);
    EXPECT_EQ(calls_.password_asked.size(), c.asks);
    EXPECT_EQ(Tree(out_), c.tree);
    EXPECT_NE(calls_.printed.find(c.result == UNZIP32_OK ? "inflating: b.txt" : "error: a.txt"),
              std::string::npos);
  }
}

TEST_F(Unzip32Test, UnpacksArchivesOfEveryCommonWriter) {
  std::string binary(300000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) {
    binary[i] = static_cast<char>((i * 2654435761U) >> 13);
  }
  std::string text;
  for (int line = 0; text.size() < 100000; ++line) {
    text += "line " + std::to_string(line) + " of the text entry\n";
  }
  using Contents = std::vector<std::pair<std::string, std::string>>;
  const Contents files = {{"empty.txt", ""}, {"docs/text.txt", text}, {"data.bin", binary}};
  // Larger than the library inflates in one piece, so it streams.
  Contents with_large = files;
  with_large.emplace_back("large.bin", std::string(std::size_t{17} << 20, 'L') + binary);

  const auto libzip = [](bool stored) {
    return [stored](const std::string& path, const Contents& contents) {
      ArchiveBuilder builder;
      for (const auto& [name, content] : contents) {
        builder.AddFile(name, content, stored ? EntryOptions().Stored() : EntryOptions());
      }
      builder.Write(path);
    };
  };
  const auto libarchive = [](LibarchiveZipOptions options) {
    return [options](const std::string& path, const Contents& contents) {
      WriteLibarchiveZip(path, contents, options);
    };
  };
  // libarchive writes data descriptors; the local header then leaves the CRC (and with
  // encryption the password check byte's source) to the descriptor and the central
  // directory, which libzip's consistency check used to refuse.
  struct Case {
    const char* writer;
    std::function<void(const std::string&, const Contents&)> write;
    const Contents& contents;
    bool descriptors;
    bool zip64;
    bool encrypted;
  } cases[] = {
      {"libzip deflated", libzip(false), with_large, false, false, false},
      {"libzip stored", libzip(true), files, false, false, false},
      {"libarchive deflated", libarchive({}), files, true, false, false},
      {"libarchive stored", libarchive({false, false, ""}), with_large, true, false, false},
      {"libarchive zip64", libarchive({true, true, ""}), files, true, true, false},
      {"libarchive encrypted deflated", libarchive({true, false, "pw"}), files, true, false, true},
      {"libarchive encrypted stored", libarchive({false, false, "pw"}), files, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.writer);
    fs::remove_all(out_);
    c.write(zip_, c.contents);
    const std::string bytes = ReadLarge(zip_);
    ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
    EXPECT_EQ((bytes[6] & 0x08) != 0, c.descriptors);  // General purpose bit 3.
    EXPECT_EQ(bytes.find("PK\x06\x06") != std::string::npos, c.zip64);
    calls_ = {};
    calls_.passwords = {"pw"};
    command_.HonorDirectories = 1;
    EXPECT_EQ(Unzip(zip_), UNZIP32_OK) << calls_.printed;
    EXPECT_EQ(calls_.password_asked.size(), c.encrypted ? 1u : 0u);
    for (const auto& [name, content] : c.contents) {
      EXPECT_TRUE(ReadLarge(Out(name)) == content) << name;
    }
  }
}

TEST_F(Unzip32Test, NothingIsWrittenOutsideTheDestination) {
  fs::create_directory(temp_ / "outside");
  temp_.Write("outside/target.txt", "keep");
  // Rows with links in place find "dir" and "file.txt" in the destination as links to
  // the outside folder and the file in it.
  struct Case {
    ArchiveBuilder archive;
    bool links_in_place;
    int32_t result;
    Files tree;
  } cases[] = {
      {ArchiveBuilder().AddFile("../x", "x").AddFile("a/../../y", "y"), false, UNZIP32_WARNING, {}},
      {ArchiveBuilder().AddFile("/abs/x", "x"), false, UNZIP32_OK, {"abs/", "abs/x"}},
      {ArchiveBuilder().AddFile("C:\\win\\x", "x"), false, UNZIP32_OK, {"win/", "win/x"}},
      {ArchiveBuilder().AddSymlink("dir", "../outside").AddFile("dir/x", "x"),
       false,
       UNZIP32_WARNING,
       {"dir/", "dir/x"}},
      {ArchiveBuilder().AddFile("dir/x", "x").AddFile("file.txt", "new"),
       true,
       UNZIP32_WRITE_FAILED,
       {"dir ->", "file.txt"}},
  };
  command_.HonorDirectories = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    fs::remove_all(out_);
    fs::create_directory(out_);
    if (c.links_in_place) {
      fs::create_directory_symlink(temp_ / "outside", Out("dir"));
      fs::create_symlink(temp_ / "outside/target.txt", Out("file.txt"));
    }
    EXPECT_EQ(Unzip(c.archive.Write(zip_)), c.result);
    EXPECT_EQ(Tree(out_), c.tree);
    EXPECT_EQ(Tree(temp_ / "outside"), Files{"target.txt"});
    EXPECT_EQ(ReadWholeFile(temp_ / "outside/target.txt"), "keep");
  }
}

TEST_F(Unzip32Test, DamagedArchivesLeaveNoHalfFiles) {
  const std::string big(50000, 'z');
  // Too large to be inflated in one piece, so its damage shows only after most of it
  // was written.
  constexpr std::uint32_t kHugeSize = 17 << 20;
  const std::string pristine = ArchiveBuilder()
                                   .AddFile("good.txt", "good")
                                   .AddFile("bad.txt", big, EntryOptions().Stored())
                                   .AddFile("long.txt", big)
                                   .AddFile("huge.bin", std::string(kHugeSize, 'h'))
                                   .Write(temp_ / "pristine.zip");
  using Damage = void (*)(const std::string&);
  const Files but_huge = {"good.txt", "bad.txt", "long.txt"};
  const Files but_long = {"good.txt", "bad.txt", "huge.bin"};
  const std::tuple<Damage, int32_t, Files> cases[] = {
      {[](const std::string& p) { FlipByte(p, EntryDataOffset(p, "bad.txt") + 9); },
       UNZIP32_BAD_ARCHIVE,
       {"good.txt", "long.txt", "huge.bin"}},
      {[](const std::string& p) { FlipByte(p, EntryDataOffset(p, "long.txt") + 5); },
       UNZIP32_BAD_ARCHIVE, but_long},
      {[](const std::string& p) { SetDeclaredCrc(p, "long.txt", 0x12345678); }, UNZIP32_BAD_ARCHIVE,
       but_long},
      {[](const std::string& p) { SetDeclaredSize(p, "long.txt", 100); }, UNZIP32_BAD_ARCHIVE,
       but_long},
      {[](const std::string& p) { SetDeclaredCrc(p, "huge.bin", 0x12345678); }, UNZIP32_BAD_ARCHIVE,
       but_huge},
      // More bytes than declared stop the entry at once; fewer fail it at its end.
      {[](const std::string& p) { SetDeclaredSize(p, "huge.bin", kHugeSize - 1); },
       UNZIP32_BAD_ARCHIVE, but_huge},
      {[](const std::string& p) { SetDeclaredSize(p, "huge.bin", kHugeSize + 1); },
       UNZIP32_BAD_ARCHIVE, but_huge},
      {[](const std::string& p) { TruncateFile(p, fs::file_size(p) / 2); },
       UNZIP32_BAD_ARCHIVE,
       {}},
      {[](const std::string& p) { fs::remove(p); }, UNZIP32_ARCHIVE_NOT_FOUND, {}},
  };
  int row = 0;
  for (const auto& [damage, result, tree] : cases) {
    SCOPED_TRACE(row++);
    fs::remove_all(out_);
    fs::create_directory(out_);
    fs::copy_file(pristine, zip_, fs::copy_options::overwrite_existing);
    damage(zip_);
    EXPECT_EQ(Unzip(zip_), result);
    EXPECT_EQ(Tree(out_), tree);
    command_.TestZip = 1;
    EXPECT_EQ(Unzip(zip_), result);
    command_.TestZip = 0;
  }
  // Even where bytes go out before the entry's end, none goes past its declared size.
  fs::copy_file(pristine, zip_, fs::copy_options::overwrite_existing);
  SetDeclaredSize(zip_, "huge.bin", kHugeSize - 1);
  command_ = {};
  command_.WriteToStdOut = 1;
  EXPECT_EQ(Unzip(zip_, {"huge.bin"}), UNZIP32_BAD_ARCHIVE);
  EXPECT_LT(calls_.printed.size(), kHugeSize);
}

TEST_F(Unzip32Test, CallbacksCanAbortAndMessageLevelsShapeThePrintedText) {
  ArchiveBuilder().AddFile("a.txt", "a").AddFile("b.txt", "b").Write(zip_);
  calls_.abort_at_service = 2;
  EXPECT_EQ(Unzip(zip_), UNZIP32_ABORTED);
  EXPECT_EQ(calls_.serviced, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Tree(out_), Files{"a.txt"});

  calls_ = {};
  calls_.abort_print = true;
  EXPECT_EQ(Unzip(zip_), UNZIP32_ABORTED);
  EXPECT_TRUE(calls_.serviced.empty());

  const std::pair<int32_t, std::string> levels[] = {
      {0, ""},
      {1, "2 of 2 entries extracted.\n"},
      {2, "Archive:  " + zip_ + "\n  inflating: a.txt\n  inflating: b.txt\n" +
              "2 of 2 entries extracted.\n"},
  };
  for (const auto& [level, text] : levels) {
    calls_ = {};
    command_.MessageLevel = level;
    EXPECT_EQ(Unzip(zip_), UNZIP32_OK);
    EXPECT_EQ(calls_.printed, text);
  }
}

TEST_F(Unzip32Test, FillsTheTotalsAndRefusesBadArguments) {
  const std::string big(10000, 'q');
  ArchiveBuilder()
      .AddFile("big.txt", big)
      .AddFile("s.txt", "abc", EntryOptions().Stored())
      .SetComment("hello")
      .Write(zip_);
  ASSERT_EQ(Unzip(zip_), UNZIP32_OK);
  // libzip tells the compressed size that the library should have added up.
  zip_t* archive = zip_open(zip_.c_str(), ZIP_RDONLY, nullptr);
  ASSERT_NE(archive, nullptr);
  zip_stat_t stat;
  ASSERT_EQ(zip_stat(archive, "big.txt", 0, &stat), 0);
  zip_discard(archive);
  EXPECT_EQ(callbacks_.EntryCount, 2u);
  EXPECT_EQ(callbacks_.TotalSize, 10003u);
  EXPECT_EQ(callbacks_.TotalCompressedSize, stat.comp_size + 3);
  EXPECT_EQ(callbacks_.CompressionPercent, (10003 - stat.comp_size - 3) * 100 / 10003);
  EXPECT_EQ(callbacks_.CommentLength, 5u);

  EXPECT_EQ(Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, nullptr, &callbacks_),
            UNZIP32_BAD_PARAMETERS);
  char* list[UNZIP32_NAME_LIST_SLOTS] = {};
  command_.ZipFileName = zip_.c_str();
  EXPECT_EQ(Wiz_SingleEntryUnzip(1, list, 0, list, &command_, &callbacks_), UNZIP32_BAD_PARAMETERS);
  command_.ExtractDir = "";
  EXPECT_EQ(Unzip(zip_), UNZIP32_BAD_PARAMETERS);
}

}  // namespace
}  // namespace kalo::test
