// Wiz_SingleEntryUnzip on real archives built with libzip, extracting into temp folders:
// what holds on every system. posix/ and win32/ hold what depends on the system.
#include <zip.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "libs/unzip32_fixture.h"

namespace kalo::test {
namespace {

TEST_F(Unzip32Test, WritesFilesFlatOrInTheirStoredFolders) {
  ArchiveBuilder()
      .AddFile("top.txt", "top")
      .AddFolder("dir")
      .AddFile("dir/sub/run.sh", "#!/bin/sh\n", EntryOptions().Mtime(kTime).Mode(0755))
      .Write(zip_);
  for (const int32_t honor : {0, 1}) {
    SCOPED_TRACE(honor);
    fs::remove_all(FromUtf8(out_));
    command_.HonorDirectories = honor;
    ASSERT_EQ(Unzip(zip_), UNZIP32_OK);
    const std::string script = honor ? "dir/sub/run.sh" : "run.sh";
    EXPECT_EQ(Tree(out_), (honor ? Files{"top.txt", "dir/", "dir/sub/", "dir/sub/run.sh"}
                                 : Files{"top.txt", "run.sh"}));
    EXPECT_EQ(ReadWholeFile(Out(script)), "#!/bin/sh\n");
    EXPECT_EQ(ReadWholeFile(Out("top.txt")), "top");
    EXPECT_EQ(Mtime(Out(script)), kTime);
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
    ClearOut();
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
    ClearOut();
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
    EXPECT_EQ(fs::exists(FromUtf8(Out("absent.txt"))), c.absent_written);
    ASSERT_EQ(calls_.replace_asked.size(), c.asked);
    if (c.asked > 0) {
      EXPECT_EQ(calls_.replace_asked[0], Out("older.txt"));
    }
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
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&kTime));
  EXPECT_EQ(calls_.listed_time, when);
  EXPECT_FALSE(fs::exists(FromUtf8(out_)));
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
    fs::remove_all(FromUtf8(out_));
    calls_.passwords = c.answers;
    calls_.password_asked.clear();
    EXPECT_EQ(Unzip(zip_), c.result);
    EXPECT_EQ(calls_.password_asked.size(), c.asks);
    EXPECT_EQ(Tree(out_), c.tree);
    EXPECT_NE(calls_.printed.find(c.result == UNZIP32_OK ? "inflating: b.txt" : "error: a.txt"),
              std::string::npos);
  }
}

TEST_F(Unzip32Test, UnpacksArchivesOfLibzip) {
  const auto libzip = [](bool stored) {
    return [stored](const std::string& path, const Contents& contents) {
      ArchiveBuilder builder;
      for (const auto& [name, content] : contents) {
        builder.AddFile(name, content, stored ? EntryOptions().Stored() : EntryOptions());
      }
      builder.Write(path);
    };
  };
  for (const WriterCase& c : {WriterCase{"deflated", libzip(false), true, false, false, false},
                              WriterCase{"stored", libzip(true), false, false, false, false}}) {
    ExpectUnpacks(c);
  }
}

TEST_F(Unzip32Test, NothingIsWrittenOutsideTheDestination) {
  // The last row finds a plain file named "dir" where the entry needs a folder.
  ExpectConfined({
      {ArchiveBuilder().AddFile("../x", "x").AddFile("a/../../y", "y"),
       {},
       UNZIP32_WARNING,
       Files{}},
      {ArchiveBuilder().AddFile("/abs/x", "x"), {}, UNZIP32_OK, Files{"abs/", "abs/x"}},
      {ArchiveBuilder().AddFile("C:\\win\\x", "x"), {}, UNZIP32_OK, Files{"win/", "win/x"}},
      {ArchiveBuilder().AddSymlink("dir", "../outside").AddFile("dir/x", "x"),
       {},
       UNZIP32_WARNING,
       Files{"dir/", "dir/x"}},
      {ArchiveBuilder().AddFile("dir/x", "x"), [this] { temp_.Write("out/dir", "file"); },
       UNZIP32_WRITE_FAILED, Files{"dir"}},
  });
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
      {[](const std::string& p) { TruncateFile(p, fs::file_size(FromUtf8(p)) / 2); },
       UNZIP32_BAD_ARCHIVE,
       {}},
      {[](const std::string& p) { fs::remove(FromUtf8(p)); }, UNZIP32_ARCHIVE_NOT_FOUND, {}},
  };
  // A fresh copy each time; copy_file's overwrite_existing fails on mingw-w64.
  const auto restore = [&] {
    fs::remove(FromUtf8(zip_));
    fs::copy_file(FromUtf8(pristine), FromUtf8(zip_));
  };
  int row = 0;
  for (const auto& [damage, result, tree] : cases) {
    SCOPED_TRACE(row++);
    ClearOut();
    restore();
    damage(zip_);
    EXPECT_EQ(Unzip(zip_), result);
    EXPECT_EQ(Tree(out_), tree);
    command_.TestZip = 1;
    EXPECT_EQ(Unzip(zip_), result);
    command_.TestZip = 0;
  }
  // Even where bytes go out before the entry's end, none goes past its declared size.
  restore();
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
