// Our zip library where only a POSIX system can tell: Unix modes and permissions,
// symbolic links, Latin-1 comments, and paths longer than Windows takes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "libs/zip32_fixture.h"

namespace kalo::test {
namespace {

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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StoredFacts facts = FactsOf(archive_, c.name);
    EXPECT_EQ(facts.mtime, stamp);
    EXPECT_EQ(facts.method, S_ISREG(c.mode) ? ZIP_CM_DEFLATE : ZIP_CM_STORE);
    EXPECT_EQ(facts.system, ZIP_OPSYS_UNIX);
    EXPECT_EQ(facts.attributes >> 16, c.mode);
  }
}

TEST_F(Zip32Test, AnUnreadableFileStopsTheRun) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop the superuser from reading";
  }
  folder_.Write("a.txt", "a");
  fs::permissions(folder_ / "a.txt", fs::perms::none);
  EXPECT_EQ(Zip(archive_, {folder_ / "a.txt"}), ZIP32_READ_FAILED);
  EXPECT_FALSE(fs::exists(FromUtf8(archive_)));
}

TEST_F(Zip32Test, LinkedFoldersMetOnTheWayDownAreNotEntered) {
  fs::create_directories(folder_.Path() / "sub/inner");
  fs::create_directory_symlink("..", folder_.Path() / "sub/inner/loop");
  ExpectLoopNotEntered();
}

TEST_F(Zip32Test, CommentsThatAreNotUtf8AreTakenAsLatin1) {
  folder_.Write("a.txt", "a");
  Log().comment_answer = "caf\xE9";
  ASSERT_EQ(Zip(archive_, {folder_ / "a.txt"}), ZIP32_OK);
  std::string comment;
  Read(archive_, &comment);
  EXPECT_EQ(comment, "caf\xC3\xA9");
}

}  // namespace
}  // namespace kalo::test
