// Tests of our zip library through its three exports, on real files in temporary
// folders; every archive is read back with libzip. This file holds what holds on every
// system; posix/ and win32/ hold what depends on the system.
#include <string>
#include <vector>

#include "libs/zip32_fixture.h"

namespace kalo::test {
namespace {

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
  // The archive lies in the folder it stores, and the second run meets it there.
  const std::string archive = folder_ / "sub/out.zip";
  struct Case {
    bool recurse;
    Contents expected;
  };
  const std::vector<Case> cases = {
      {true, {{"sub/", ""}, {"sub/d.txt", "d"}, {"sub/inner/", ""}, {"sub/inner/e.txt", "e"}}},
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
}  // namespace kalo::test
