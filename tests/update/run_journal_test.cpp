#include "update/run_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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

TEST_F(RunJournalTest, ARecordNamingAnythingButCopiesIsDiscardedWholeNeverFollowed) {
  // A name that leads out of the install folder to someone else's file as the copy, with
  // a file in the place it would go back to; and the journal's own files.
  for (const char* record :
       {"../../victim.txt\n", "acme.exe\n../../victim.txt\n", "signatures\n", "lock\n"}) {
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
