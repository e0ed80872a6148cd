// Tests of our zip library through its three exports, on real files in temporary
// folders; every archive is read back with libzip.
#include "zip32.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "helpers/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using kalo::test::ReadWholeFile;
using kalo::test::TempFolder;
using Contents = std::map<std::string, std::string>;

// Callbacks are plain C functions, so what they see and answer lives here.
struct CallbackLog {
  std::string printed;
  bool print_call_well_formed = true;
  int comment_calls = 0;
  std::string comment_answer;
  // Made while the archive is open, to make the final rename fail.
  std::string folder_to_make;
};
CallbackLog& Log() {
  static CallbackLog log;
  return log;
}

int32_t ZIP32_CALL Print(const char* text, uint32_t length) {
  Log().print_call_well_formed &= length < 4097 && std::strlen(text) == length;
  Log().printed.append(text, length);
  return 0;
}

char* ZIP32_CALL Comment(char* buffer) {
  ++Log().comment_calls;
  if (!Log().folder_to_make.empty()) {
    std::filesystem::create_directory(Log().folder_to_make);
  }
  if (buffer[0] != '\0') {
    return nullptr;
  }
  std::strcpy(buffer, Log().comment_answer.c_str());
  return buffer;
}

struct Options {
  bool recurse = false;
  bool update = false;
  std::string root = "\\";
  bool comment_callback = true;
};

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* handle) const {
    Free(handle);
  }
};
using ZipHandle = std::unique_ptr<zip_t, Deleter<zip_discard>>;

ZipHandle OpenArchive(const std::string& path) {
  int error = 0;
  return ZipHandle(zip_open(path.c_str(), ZIP_RDONLY, &error));
}

Contents Read(const std::string& path, std::string* comment = nullptr) {
  const ZipHandle zip = OpenArchive(path);
  if (!zip) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  Contents contents;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip.get(), 0); ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t stat;
    zip_stat_index(zip.get(), index, 0, &stat);
    std::string data(stat.size, '\0');
    const std::unique_ptr<zip_file_t, Deleter<zip_fclose>> file(
        zip_fopen_index(zip.get(), index, 0));
    EXPECT_EQ(zip_fread(file.get(), data.data(), data.size()), static_cast<zip_int64_t>(stat.size));
    contents[stat.name] = data;
  }
  if (comment != nullptr) {
    const char* text = zip_get_archive_comment(zip.get(), nullptr, 0);
    *comment = text == nullptr ? "" : text;
  }
  return contents;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Zip32Test : public ::testing::Test {
 protected:
  void SetUp() override { Log() = CallbackLog{}; }

  // Runs the three calls as our caller does, names in a list of 100 slots.
  int32_t Zip(const std::string& archive, const std::vector<std::string>& names,
              const Options& options = {}) {
    ZipCallbacks callbacks{Print, nullptr, options.comment_callback ? Comment : nullptr, nullptr};
    ZipOptions record{};
    record.RecurseFolders = options.recurse ? 1 : 0;
    record.UpdateArchive = options.update ? 1 : 0;
    std::string root = options.root;
    record.RootDirectory = root.c_str();
    EXPECT_EQ(ZpInit(&callbacks), ZIP32_OK);
    EXPECT_EQ(ZpSetOptions(&record), ZIP32_OK);
    // The record's text must be copied: overwrite it before the archive call.
    root.assign(root.size(), 'x');
    std::vector<std::string> copies = names;
    std::vector<char*> slots(ZIP32_NAME_LIST_SLOTS, nullptr);
    for (size_t i = 0; i < copies.size(); ++i) {
      slots[i] = copies[i].data();
    }
    return ZpArchive(static_cast<int32_t>(names.size()), archive.c_str(), slots.data());
  }

  TempFolder folder_;
  const std::string archive_ = folder_ / "out.zip";
  const std::string root_ = Upper(folder_.Path().string());
  const std::string as_given_ = folder_.Path().relative_path().string();
};

TEST_F(Zip32Test, StoresNamesRelativeToTheRootWhenTheyLieUnderIt) {
  fs::create_directory(folder_.Path() / "sub");
  folder_.Write("sub/a.txt", "alpha");
  struct Case {
    std::string root;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {root_, "sub/a.txt"},
      {root_ + "/SUB/", "a.txt"},
      {"\\", as_given_ + "/sub/a.txt"},
      {"", as_given_ + "/sub/a.txt"},
      {"/", as_given_ + "/sub/a.txt"},
      {root_ + "/OTHER", as_given_ + "/sub/a.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    ASSERT_EQ(Zip(archive_, {folder_ / "sub/a.txt"}, {.root = c.root}), ZIP32_OK);
    EXPECT_EQ(Read(archive_), (Contents{{c.stored, "alpha"}}));
  }
}

TEST_F(Zip32Test, RelativeNamesAndWildcardsNeverStoreDots) {
  fs::create_directories(folder_.Path() / "work/sub");
  for (const char* name : {"work/sub/a.txt", "work/b.txt", "work/c.log", "work/dd.log", "c.txt"}) {
    folder_.Write(name, name);
  }
  const fs::path previous = fs::current_path();
  fs::current_path(folder_.Path() / "work");
  const int32_t result =
      Zip(archive_, {"sub/*", "./b.txt", "../c.txt", "sub\\..\\b.txt", "?.log", "*.none"});
  fs::current_path(previous);
  ASSERT_EQ(result, ZIP32_OK);
  EXPECT_EQ(Read(archive_), (Contents{{"sub/a.txt", "work/sub/a.txt"},
                                      {"b.txt", "work/b.txt"},
                                      {"c.txt", "c.txt"},
                                      {"c.log", "work/c.log"}}));
  // The second path to b.txt adds nothing.
  EXPECT_EQ(Log().printed,
            "  zip warning: name not matched: *.none\n  adding: sub/a.txt\n  adding: b.txt\n"
            "  adding: c.txt\n  adding: c.log\n");
}

TEST_F(Zip32Test, FoldersAreEnteredOnlyWhenRecursing) {
  fs::create_directories(folder_.Path() / "sub/inner");
  folder_.Write("sub/d.txt", "d");
  folder_.Write("sub/inner/e.txt", "e");
  // A linked folder met on the way down is stored but not entered, or this loop would
  // never end.
  fs::create_directory_symlink("..", folder_.Path() / "sub/inner/loop");
  // The archive lies in the folder it stores, and the second run meets it there.
  const std::string archive = folder_ / "sub/out.zip";
  struct Case {
    bool recurse;
    Contents expected;
  };
  const std::vector<Case> cases = {
      {true,
       {{"sub/", ""},
        {"sub/d.txt", "d"},
        {"sub/inner/", ""},
        {"sub/inner/e.txt", "e"},
        {"sub/inner/loop/", ""}}},
      {false, {{"sub/", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recurse);
    for (int run = 0; run < 2; ++run) {
      ASSERT_EQ(Zip(archive, {folder_ / "sub"}, {.recurse = c.recurse, .root = root_}), ZIP32_OK);
    }
    EXPECT_EQ(Read(archive), c.expected);
  }
}

TEST_F(Zip32Test, UpdateKeepsOtherEntriesWhileReplaceStartsAfresh) {
  struct Case {
    bool update;
    Contents expected;
  };
  const std::vector<Case> cases = {
      {true, {{"old.txt", "old"}, {"shared.txt", "v2"}, {"new.txt", "new"}}},
      {false, {{"shared.txt", "v2"}, {"new.txt", "new"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.update);
    folder_.Write("old.txt", "old");
    folder_.Write("shared.txt", "v1");
    ASSERT_EQ(Zip(archive_, {folder_ / "old.txt", folder_ / "shared.txt"}, {.root = root_}),
              ZIP32_OK);
    folder_.Write("shared.txt", "v2");
    folder_.Write("new.txt", "new");
    ASSERT_EQ(Zip(archive_, {folder_ / "shared.txt", folder_ / "new.txt"},
                  {.update = c.update, .root = root_}),
              ZIP32_OK);
    EXPECT_EQ(Read(archive_), c.expected);
  }
}

TEST_F(Zip32Test, TheCommentCallbackGivesTheArchiveComment) {
  folder_.Write("a.txt", "a");
  struct Case {
    bool callback;
    std::string answer;
    bool update;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {true, "first words", false, "first words"},
      {true, "", true, "first words"},  // An empty answer keeps the comment when updating.
      {true, "second words", true, "second words"},
      {true, "", false, ""},
      {true, "caf\xE9", false, "caf\xC3\xA9"},  // Latin-1 text is stored as UTF-8.
      {false, "ignored", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Log().comment_calls = 0;
    Log().comment_answer = c.answer;
    ASSERT_EQ(
        Zip(archive_, {folder_ / "a.txt"}, {.update = c.update, .comment_callback = c.callback}),
        ZIP32_OK);
    std::string comment;
    Read(archive_, &comment);
    EXPECT_EQ(comment, c.expected);
    EXPECT_EQ(Log().comment_calls, c.callback ? 1 : 0);
  }
}

TEST_F(Zip32Test, PrintsOneShortLinePerAddedEntry) {
  const std::string long_name(200, 'n');
  fs::path deep = folder_.Path();
  for (int level = 0; level < 6; ++level) {
    deep /= long_name;
  }
  fs::create_directories(deep);
  folder_.Write("a.txt", "a");
  ASSERT_EQ(
      Zip(archive_, {folder_ / "a.txt", folder_ / "missing.txt", deep.string()}, {.root = root_}),
      ZIP32_OK);
  const std::string deep_stored = fs::relative(deep, folder_.Path()).string() + "/";
  // Warnings come from the search, which ends before the first entry is added.
  const std::string expected = "  zip warning: name not matched: " + folder_ / "missing.txt" +
                               "\n  adding: a.txt\n  adding: " + deep_stored.substr(0, 1010) +
                               "...\n";
  EXPECT_EQ(Log().printed, expected);
  EXPECT_TRUE(Log().print_call_well_formed);
  EXPECT_EQ(Read(archive_).count(deep_stored), 1u);
}

TEST_F(Zip32Test, FailuresLeaveTheFolderAsItWas) {
  folder_.Write("a.txt", "a");
  folder_.Write("out.zip", "not a zip archive");
  fs::create_directory(folder_.Path() / "taken.zip");
  struct Case {
    std::string archive;
    std::vector<std::string> names;
    bool update;
    int32_t result;
  };
  const std::string a = folder_ / "a.txt";
  const std::string late = folder_ / "late.zip";
  // "late.zip" is made while the archive is open, so that the final rename fails after
  // the temporary file was written.
  const std::vector<Case> cases = {
      {archive_, {folder_ / "missing.txt", folder_ / "*.none", ""}, false, ZIP32_NOTHING_TO_DO},
      {archive_, {}, false, ZIP32_NOTHING_TO_DO},
      {folder_ / "new.zip", {folder_ / "missing.txt"}, false, ZIP32_NOTHING_TO_DO},
      {archive_, {a}, true, ZIP32_BAD_ARCHIVE},
      {folder_ / "a.txt/out.zip", {a}, false, ZIP32_WRITE_FAILED},
      {folder_ / "taken.zip", {a}, false, ZIP32_WRITE_FAILED},
      {late, {a}, false, ZIP32_WRITE_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    Log().folder_to_make = c.archive == late ? late : "";
    const std::vector<std::string> before = FolderListing(folder_.Path());
    EXPECT_EQ(Zip(c.archive, c.names, {.update = c.update}), c.result);
    std::vector<std::string> after = FolderListing(folder_.Path());
    std::erase(after, "late.zip");
    EXPECT_EQ(after, before);
    EXPECT_EQ(ReadWholeFile(archive_), "not a zip archive");
  }
  // Without updating, the unreadable archive is simply replaced.
  EXPECT_EQ(Zip(archive_, {a}, {.root = root_}), ZIP32_OK);
  EXPECT_EQ(Read(archive_), (Contents{{"a.txt", "a"}}));
}

TEST_F(Zip32Test, KeepsModificationTimesAndPermissions) {
  struct Case {
    std::string name;
    mode_t mode;
  };
  // The folder comes last, because writing its files changes its time.
  const std::vector<Case> cases = {{"tool/run.sh", S_IFREG | 0755},
                                   {"tool/data.txt", S_IFREG | 0640},
                                   {"tool/", S_IFDIR | 0750}};
  // An even second, since zip archives keep times in two-second steps.
  const time_t stamp = 1'600'000'000;
  const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
  fs::create_directory(folder_.Path() / "tool");
  for (const Case& c : cases) {
    if (S_ISREG(c.mode)) {
      folder_.Write(c.name, "content");
    }
    ASSERT_EQ(::chmod((folder_ / c.name).c_str(), c.mode & 07777), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder_ / c.name).c_str(), times, 0), 0);
  }
  ASSERT_EQ(Zip(archive_, {folder_ / "tool"}, {.recurse = true, .root = root_}), ZIP32_OK);
  const ZipHandle zip = OpenArchive(archive_);
  ASSERT_TRUE(zip);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zip_stat_t entry;
    ASSERT_EQ(zip_stat(zip.get(), c.name.c_str(), 0, &entry), 0);
    EXPECT_EQ(entry.mtime, stamp);
    EXPECT_EQ(entry.comp_method, S_ISREG(c.mode) ? ZIP_CM_DEFLATE : ZIP_CM_STORE);
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    ASSERT_EQ(zip_file_get_external_attributes(zip.get(), entry.index, 0, &system, &attributes), 0);
    EXPECT_EQ(system, ZIP_OPSYS_UNIX);
    EXPECT_EQ(attributes >> 16, c.mode);
  }
}

TEST_F(Zip32Test, AnUnreadableFileStopsTheRun) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop the superuser from reading";
  }
  folder_.Write("a.txt", "a");
  fs::permissions(folder_ / "a.txt", fs::perms::none);
  EXPECT_EQ(Zip(archive_, {folder_ / "a.txt"}), ZIP32_READ_FAILED);
  EXPECT_FALSE(fs::exists(archive_));
}

TEST_F(Zip32Test, RejectsBadParameters) {
  char name[] = "a.txt";
  char* names[ZIP32_NAME_LIST_SLOTS] = {name};
  struct Case {
    int32_t count;
    const char* archive;
    char** names;
  };
  const std::vector<Case> cases = {{-1, archive_.c_str(), names},
                                   {ZIP32_NAME_LIST_SLOTS + 1, archive_.c_str(), names},
                                   {1, nullptr, names},
                                   {1, "", names},
                                   {1, archive_.c_str(), nullptr}};
  ZipCallbacks callbacks{};
  ASSERT_EQ(ZpInit(&callbacks), ZIP32_OK);
  for (const Case& c : cases) {
    EXPECT_EQ(ZpArchive(c.count, c.archive, c.names), ZIP32_BAD_PARAMETERS);
  }
  EXPECT_EQ(ZpInit(nullptr), ZIP32_BAD_PARAMETERS);
  EXPECT_EQ(ZpSetOptions(nullptr), ZIP32_BAD_PARAMETERS);
}

TEST(Zip32FreshProcessTest, ArchiveBeforeInitIsRefused) {
  // The library keeps its session for the whole process, so the check runs in a new one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  char name[] = "unused.txt";
  char* names[ZIP32_NAME_LIST_SLOTS] = {name};
  EXPECT_EXIT(std::exit(ZpArchive(1, "unused.zip", names)),
              ::testing::ExitedWithCode(ZIP32_NOT_INITIALISED), "");
}

}  // namespace
