#include "update/run_journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/links.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"
#include "update/update_run.h"

namespace {

// What the journal tells the run's report.
class WarningsObserver : public cImpLicencas::RunObserver {
 public:
  void Warned(const std::string& text) override { warnings.push_back(text); }
  std::vector<std::string> warnings;
};

// Injects the faults a recovery and a start meet at the same moment as other runs.
class FaultyFileSystem : public kalo::platform::FileSystem {
 public:
  void RemoveFile(const std::string& path) override {
    if (!stuck.empty() && path.find(stuck) != std::string::npos) {
      throw kalo::Error(kalo::error_number::kPermissionDenied, "in use", "test");
    }
    FileSystem::RemoveFile(path);
  }
  void CreateFolder(const std::string& path) override {
    if (other_run_first) {
      FileSystem::CreateFolder(path);
    }
    FileSystem::CreateFolder(path);
  }
  std::string stuck;  // removing a path that holds this fails, as of a file still open
  bool other_run_first = false;
};

using kalo::test::FromUtf8;
using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;

// The files in a folder, by name, with what they hold.
using Files = std::map<std::string, std::string>;

Files FilesIn(const std::string& folder) {
  Files files;
  for (const auto& entry : fs::directory_iterator(FromUtf8(folder))) {
    if (entry.is_regular_file()) {
      files[kalo::test::Utf8(entry.path().filename())] =
          ReadWholeFile(kalo::test::Utf8(entry.path()));
    }
  }
  return files;
}

class RunJournalTest : public testing::Test {
 protected:
  RunJournalTest() { fs::create_directories(FromUtf8(install_)); }

  std::string Path(const std::string& name) const { return work_ / ("home/KALO/" + name); }
  void Write(const std::string& name, const std::string& content) const {
    work_.Write("home/KALO/" + name, content);
  }

  // Takes the lock, or gives up at once.
  bool Lock(cImpLicencas::RunJournal& journal) {
    return journal.Lock(ui_, clock_, std::chrono::seconds(0));
  }

  // A run that finds the folder as it is now and recovers what it finds.
  void RecoverAsANewRun() {
    cImpLicencas::RunJournal journal(fs_, observer_, install_);
    ASSERT_TRUE(Lock(journal));
    journal.Recover();
  }

  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "home/KALO";
  FaultyFileSystem fs_;
  WarningsObserver observer_;
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
};

// Each step notes before it moves: the record names a file before it leaves its place,
// and only the set-aside copies move back or go.
TEST_F(RunJournalTest, StepsMoveOnlyWhatTheRecordNames) {
  Write("acme.exe", "old program");
  Write("logo.jpg", "old logo");
  cImpLicencas::RunJournal journal(fs_, observer_, install_);
  ASSERT_TRUE(Lock(journal));
  journal.BeforeWriting();
  EXPECT_EQ(ReadWholeFile(Path(".kalo_upd/record")), "");
  journal.SetAside("acme.exe");
  journal.SetAside("logo.jpg");
  journal.BeforeWriting();
  EXPECT_EQ(FilesIn(install_), Files{});
  Write("acme.exe", "new program");
  journal.Discard("acme.exe");
  journal.PutBack("logo.jpg");
  EXPECT_EQ(FilesIn(install_), (Files{{"acme.exe", "new program"}, {"logo.jpg", "old logo"}}));
  EXPECT_EQ(FilesIn(Path(".kalo_upd")), (Files{{"lock", ""}, {"record", "acme.exe\nlogo.jpg\n"}}));
  // A name that cannot be set aside stays where it is, noted all the same.
  EXPECT_THROW(journal.SetAside("missing.dll"), kalo::Error);
  EXPECT_EQ(ReadWholeFile(Path(".kalo_upd/record")), "acme.exe\nlogo.jpg\nmissing.dll\n");
  // A file named like the run log stays in place: its copy would take the log's.
  Write("kalo_upd.log", "the product's");
  EXPECT_THROW(journal.SetAside("kalo_upd.log"), kalo::Error);
  EXPECT_EQ(ReadWholeFile(Path("kalo_upd.log")), "the product's");
  fs::remove(FromUtf8(Path("kalo_upd.log")));
  journal.Recover();
  EXPECT_EQ(FilesIn(Path(".kalo_upd")), (Files{{"lock", ""}}));
  EXPECT_TRUE(observer_.warnings.empty());
}

// A kept download stays only while a run can continue it: a record that is whole and
// sound, and a body that holds what it says. Everything else with their names goes.
TEST_F(RunJournalTest, KeptDownloadsStayOnlyWhileTheyCanBeContinued) {
  cImpLicencas::RunJournal journal(fs_, observer_, install_);
  ASSERT_TRUE(Lock(journal));
  const kalo::platform::ResumePoint held{4, "\"v1\"", 10};
  const auto keep = [&](const std::string& name, const char* body,
                        const kalo::platform::ResumePoint& point) {
    const cUpdate::KeptDownload kept = journal.KeptDownloadOf(name, "10", "");
    if (body) {
      Write(".kalo_upd/" + cImpLicencas::KeptBodyName(name), body);
    }
    kept.note(point);
  };
  keep("kept.bin", "abcdXY", held);
  keep("short.bin", "ab", held);
  keep("no-validator.bin", "abcd", {4, "", 10});
  keep("nothing-held.bin", "", {0, "\"v1\"", 10});
  keep("no-body.bin", nullptr, held);
  keep("unwanted.bin", "abcd", held);
  // A record copied under another name's files, a record that is not one, a body alone.
  keep("original.bin", "abcd", held);
  fs::rename(FromUtf8(Path(".kalo_upd/" + cImpLicencas::KeptRecordName("original.bin"))),
             FromUtf8(Path(".kalo_upd/" + cImpLicencas::KeptRecordName("copied.bin"))));
  Write(".kalo_upd/" + cImpLicencas::KeptBodyName("copied.bin"), "abcd");
  Write(".kalo_upd/" + cImpLicencas::KeptRecordName("odd.bin"), "name=odd.bin\nheld=4\n");
  Write(".kalo_upd/" + cImpLicencas::KeptBodyName("odd.bin"), "abcd");

  journal.PruneKeptDownloads(
      [](const cImpLicencas::KeptDownloadRecord& record) { return record.name != "unwanted.bin"; });
  const Files left = FilesIn(Path(".kalo_upd"));
  ASSERT_EQ(left.size(), 3u) << testing::PrintToString(left);
  EXPECT_EQ(left.at(cImpLicencas::KeptBodyName("kept.bin")), "abcdXY");
  EXPECT_EQ(journal.KeptDownloadOf("kept.bin", "10", "").held.offset, 4u);
  // Another length or digest in the manifest names another file.
  EXPECT_EQ(journal.KeptDownloadOf("kept.bin", "11", "").held.offset, 0u);
  EXPECT_EQ(journal.KeptDownloadOf("kept.bin", "10", "ab12").held.offset, 0u);
}

// What a new run finds after one that was cut off, and what it leaves.
TEST_F(RunJournalTest, RecoveryPutsBackWhatIsMissingAndClearsTheRest) {
  const struct {
    const char* what;
    Files install;  // before and after
    Files corner;   // the hidden folder's files but the lock
    Files install_after;
    Files corner_after;
  } cases[] = {
      {"no record: nothing is looked at",
       {{"acme.exe.part-Ab12Cd", "partial"}},
       {{"logo.jpg", "old logo"}},
       {{"acme.exe.part-Ab12Cd", "partial"}},
       {{"logo.jpg", "old logo"}}},
      {"a missing file's copy goes back, a present one's goes",
       {{"logo.jpg", "new logo"}},
       {{"record", "acme.exe\nlogo.jpg"}, {"acme.exe", "old program"}, {"logo.jpg", "old logo"}},
       {{"acme.exe", "old program"}, {"logo.jpg", "new logo"}},
       {}},
      {"a copy the record lost is found, the journal's own files stay",
       {},
       {{"record", ""}, {"acme.exe", "old program"}, {"signatures", "times"}},
       {{"acme.exe", "old program"}},
       {{"signatures", "times"}}},
      {"names without a copy and empty lines are passed over",
       {{"acme.exe", "program"}},
       {{"record", "\ngone.exe\n\nacme.exe\n"}},
       {{"acme.exe", "program"}},
       {}},
      {"the run log is no copy, though its names have dots",
       {},
       {{"record", ""}, {"kalo_upd.log", "lines"}, {"KALO_UPD.LOG.1", "older"}},
       {},
       {{"kalo_upd.log", "lines"}, {"KALO_UPD.LOG.1", "older"}}},
      {"what writers left half done goes",
       {{"acme.exe.part-Ab12Cd", ""}, {".unzip32-1.tmp", ""}, {"keep.txt", "kept"}},
       {{"record", ""}, {"signatures.part-Ab12Cd", ""}},
       {{"keep.txt", "kept"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(FromUtf8(install_));
    fs::create_directories(FromUtf8(Path(".kalo_upd")));
    for (const auto& [name, content] : c.install) {
      Write(name, content);
    }
    for (const auto& [name, content] : c.corner) {
      Write(".kalo_upd/" + name, content);
    }
    RecoverAsANewRun();
    EXPECT_EQ(FilesIn(install_), c.install_after);
    Files corner_after = c.corner_after;
    corner_after.emplace("lock", "");
    EXPECT_EQ(FilesIn(Path(".kalo_upd")), corner_after);
  }
  EXPECT_TRUE(observer_.warnings.empty());
}

// One run at a time: the next one waits out its patience, second by second, and gives
// up; the lock is free again once its holder has gone.
TEST_F(RunJournalTest, TheLockKeepsTheNextRunOutUntilItsHolderHasGone) {
  auto first = std::make_unique<cImpLicencas::RunJournal>(fs_, observer_, install_);
  ASSERT_TRUE(Lock(*first));
  cImpLicencas::RunJournal second(fs_, observer_, install_);
  const auto before = clock_.Now();
  EXPECT_FALSE(second.Lock(ui_, clock_, std::chrono::seconds(3)));
  EXPECT_EQ(clock_.Now() - before, std::chrono::seconds(3));
  first.reset();
  EXPECT_TRUE(Lock(second));
}

TEST_F(RunJournalTest, ARecordNamingAnythingButCopiesIsDiscardedWholeNeverFollowed) {
  // A name that leads out of the install folder to someone else's file as the copy, with
  // a file in the place it would go back to; and the journal's own files.
  for (const char* record : {"../../victim.txt\n", "acme.exe\n../../victim.txt\n", "signatures\n",
                             "lock\n", "kalo_upd.log\n"}) {
    SCOPED_TRACE(record);
    observer_.warnings.clear();
    fs::create_directories(FromUtf8(Path(".kalo_upd")));
    work_.Write("home/victim.txt", "not the updater's");
    work_.Write("victim.txt", "");
    Write(".kalo_upd/record", record);
    Write(".kalo_upd/signatures", "times");
    Write(".kalo_upd/acme.exe", "old program");
    RecoverAsANewRun();
    EXPECT_EQ(ReadWholeFile(work_ / "home/victim.txt"), "not the updater's");
    EXPECT_EQ(ReadWholeFile(Path(".kalo_upd/signatures")), "times");
    EXPECT_FALSE(fs::exists(FromUtf8(Path("signatures"))));
    EXPECT_FALSE(fs::exists(FromUtf8(Path("lock"))));
    EXPECT_EQ(observer_.warnings,
              std::vector<std::string>{"O registro " + Path(".kalo_upd/record") +
                                       " foi descartado sem ser seguido: tem linhas que não "
                                       "são nomes de arquivos guardados pela atualização"});
    // The copy is still found by looking, and the record is gone once all is done.
    EXPECT_EQ(ReadWholeFile(Path("acme.exe")), "old program");
    EXPECT_FALSE(fs::exists(FromUtf8(Path(".kalo_upd/record"))));
    fs::remove(FromUtf8(Path("acme.exe")));
  }
}

TEST_F(RunJournalTest, LinksAndStrangersInTheHiddenFolderEndTheStart) {
  fs::create_directory(work_.Path() / "elsewhere");
  const std::string victim = work_.Write("elsewhere/victim.txt", "acme.exe\n");
  const struct {
    const char* what;
    std::string says;  // what the error says, naming the path
    std::function<bool()> prepare;
  } cases[] = {
      {"folder is a file", Path(".kalo_upd") + ": não é uma pasta",
       [&] {
         Write(".kalo_upd", "");
         return true;
       }},
      {"lock is a link", Path(".kalo_upd/lock") + ": é um link",
       [&] {
         fs::create_directory(FromUtf8(Path(".kalo_upd")));
         return kalo::test::MakeSymbolicLink(FromUtf8(Path(".kalo_upd/lock")),
                                             work_.Path() / "elsewhere/lock", false);
       }},
      {"record is a link", Path(".kalo_upd/record") + ": é um link",
       [&] {
         fs::create_directory(FromUtf8(Path(".kalo_upd")));
         return kalo::test::MakeSymbolicLink(FromUtf8(Path(".kalo_upd/record")), FromUtf8(victim),
                                             false);
       }},
      // Last: removing a folder link may not stop at the link everywhere.
      {"folder is a link", Path(".kalo_upd") + ": é um link",
       [&] {
         return kalo::test::MakeSymbolicLink(FromUtf8(Path(".kalo_upd")),
                                             work_.Path() / "elsewhere", true);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(FromUtf8(Path(".kalo_upd")));
    if (!c.prepare()) {
      GTEST_SKIP() << "this system makes no symbolic links";
    }
    cImpLicencas::RunJournal journal(fs_, observer_, install_);
    try {
      Lock(journal);
      ADD_FAILURE() << "no error";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kPathFileAccess);
      EXPECT_NE(error.Description().find(c.says), std::string::npos) << error.Description();
    }
    EXPECT_EQ(ReadWholeFile(victim), "acme.exe\n");
    EXPECT_FALSE(fs::exists(work_.Path() / "elsewhere/lock"));
  }
}

TEST_F(RunJournalTest, ARecoveryThatFailsKeepsTheRecordSoTheNextRunTriesAgain) {
  fs::create_directory(FromUtf8(Path(".kalo_upd")));
  Write(".kalo_upd/record", "acme.exe\n");
  Write(".kalo_upd/acme.exe", "old program");
  // The download's temporary file, still open in a program that is ending.
  Write("logo-jpg-1.jpg.part-Ab12Cd", "partial");
  fs_.stuck = ".part-";
  RecoverAsANewRun();
  EXPECT_EQ(ReadWholeFile(Path("acme.exe")), "old program");
  EXPECT_TRUE(fs::exists(FromUtf8(Path("logo-jpg-1.jpg.part-Ab12Cd"))));
  EXPECT_EQ(ReadWholeFile(Path(".kalo_upd/record")), "acme.exe\n");

  fs_.stuck.clear();
  RecoverAsANewRun();
  EXPECT_FALSE(fs::exists(FromUtf8(Path("logo-jpg-1.jpg.part-Ab12Cd"))));
  EXPECT_FALSE(fs::exists(FromUtf8(Path(".kalo_upd/record"))));
  EXPECT_EQ(ReadWholeFile(Path("acme.exe")), "old program");
}

TEST_F(RunJournalTest, ARunThatFindsTheFolderJustMadeByAnotherGoesOn) {
  fs_.other_run_first = true;
  cImpLicencas::RunJournal journal(fs_, observer_, install_);
  EXPECT_TRUE(Lock(journal));
  EXPECT_TRUE(fs::is_directory(FromUtf8(Path(".kalo_upd"))));
}

}  // namespace
