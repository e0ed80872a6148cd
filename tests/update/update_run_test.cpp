#include "update/update_run.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "helpers/acme_release.h"
#include "helpers/archive_builder.h"
#include "helpers/child_processes.h"
#include "helpers/fake_ui.h"
#include "helpers/install_folder.h"
#include "helpers/settings_root.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/internet_transfer.h"
#include "support/text.h"
#include "update/freshness.h"
#include "update/manifest_signature.h"

namespace kalo {
std::span<const platform::CarriedResource> CarriedExtractors();
}

namespace {

using kalo::platform::MessageAnswer;
using kalo::platform::MessageStyle;
using kalo::test::ReadWholeFile;
using kalo::test::Sha256Text;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kStamp = "201811211540";  // the test program's version

// What a run reported, each hook's reports in order.
class RecordingObserver : public cImpLicencas::RunObserver {
 public:
  void ManifestLoaded(const cImpLicencas::ManifestState& manifest,
                      const std::optional<kalo::Failure>& failure) override {
    manifests.push_back(failure ? failure->step + ": " + failure->reason : manifest.address);
  }
  void EntryDecided(const std::string& name,
                    const cImpLicencas::EntryComparison& comparison) override {
    decided.push_back(name + ": " + cImpLicencas::MismatchText(comparison).value_or("current"));
  }
  void FileReplaced(const std::string& name) override { replaced.push_back(name); }
  void FileUnpacked(const std::string& name) override { unpacked.push_back(name); }
  void EntrySkipped(const std::string& line) override { skipped.push_back(line); }
  void Warned(const std::string& text) override { warned.push_back(text); }
  void Overlooked(const kalo::Failure& failure) override { overlooked.push_back(failure); }
  void StepFailed(const kalo::Failure& failure) override { failed.push_back(failure); }
  void HandingOver(const std::string& path) override { handed_over.push_back(path); }
  std::vector<std::string> manifests, decided, replaced, unpacked, skipped, warned, handed_over;
  std::vector<kalo::Failure> overlooked, failed;
};

// Refuses to move one file aside, as when another program holds it, or to write one.
class HeldFileSystem : public kalo::platform::FileSystem {
 public:
  void WriteFileAtomically(const std::string& path, std::span<const std::byte> bytes,
                           kalo::platform::FilePermissions permissions) override {
    if (path == unwritable) {
      throw kalo::Error(kalo::error_number::kDiskFull, "disk full", "test");
    }
    FileSystem::WriteFileAtomically(path, bytes, permissions);
  }
  void RenameFile(const std::string& from, const std::string& to) override {
    if (from == held) {
      throw kalo::Error(kalo::error_number::kPermissionDenied, "in use", "test");
    }
    FileSystem::RenameFile(from, to);
  }
  std::uint64_t FreeSpace(const std::string& path) const override {
    return free_space ? *free_space : FileSystem::FreeSpace(path);
  }
  std::string held;
  std::string unwritable;
  std::optional<std::uint64_t> free_space;  // a disk this full, instead of the real one
};

// Public, so that the table of failure cases can prepare through it.
class UpdateRunTest : public testing::Test {
 public:
  UpdateRunTest() {
    fs::create_directory(install_);
    // Extractors started by the provisioning work in real time.
    ui_.settled = [this] {
      return fs::exists(install_ + "/unzip32.dll") &&
             (!fs::exists(install_ + "/zip32.exe") || fs::exists(install_ + "/zip32.dll"));
    };
  }

  ~UpdateRunTest() override {
    for (const auto& entry : fs::directory_iterator(install_)) {
      if (entry.path().extension() == ".started") {
        const auto id = std::stoll(ReadWholeFile(entry.path()));
        ::kill(static_cast<pid_t>(id), SIGKILL);
        kalo::test::CollectChild(id);
      }
    }
  }

  void InstallLibraries() { kalo::test::InstallArchiveLibraries(install_); }

  // Serves an archive holding `file_name` (the test program unless `content` is given)
  // and answers its manifest line.
  std::string ServeArchive(const std::string& base, const std::string& ext,
                           const std::string& content = ReadWholeFile(KALO_TEST_PROGRAM)) {
    const std::string remote = base + "-" + ext + "-" + kStamp + ".zip";
    kalo::test::ArchiveBuilder()
        .AddFile("bin/" + base + "." + ext, content, kalo::test::EntryOptions().Mode(0755))
        .Write(work_ / remote);
    const std::string bytes = ReadWholeFile(work_ / remote);
    server_.SetFile(remote, bytes);
    return remote + "|" + std::to_string(bytes.size());
  }

  std::string ServePlain(const std::string& base, const std::string& ext,
                         const std::string& content) {
    const std::string remote = base + "-" + ext + "-" + kStamp + "." + ext;
    server_.SetFile(remote, content);
    return remote + "|" + std::to_string(content.size());
  }

  void Publish(const std::string& client, const std::vector<std::string>& lines) {
    std::string body = "licenca_\r\n";
    for (const auto& line : lines) {
      body += line + "\r\n";
    }
    server_.SetManifest(client, body + "_licenca");
  }

  // The exit status the run ended the program with; nothing when it returned.
  std::optional<int> Run(const std::string& client) {
    try {
      outcome_ = cImpLicencas::RunUpdate(services_, client);
      return std::nullopt;
    } catch (const kalo::test::ProgramEnded& ended) {
      return ended.exit_status;
    }
  }

  std::string Path(const std::string& name) const { return install_ + "/" + name; }

  // What an ended run must not leave: set-aside copies, its record, temporary files.
  std::vector<std::string> LeftOvers() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(install_)) {
      const std::string name = entry.path().filename().string();
      const bool own = entry.path().parent_path().filename() == ".kalo_upd";
      if ((own && name != "lock") || name.find(".part-") != std::string::npos ||
          name.starts_with(".unzip32-")) {
        found.push_back(entry.path().string());
      }
    }
    return found;
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "KALO";
  HeldFileSystem fs_;
  kalo::platform::ProcessTable processes_;
  const kalo::platform::CarriedResources resources_{kalo::CarriedExtractors()};
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
  cUpdate::TransferControlOwner transfer_{[this] {
    return kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 2s});
  }};
  cImpZipDeclares::ArchiveLibraries libraries_{install_};
  cImpLicencas::ManifestState manifest_;
  kalo::test::SettingsRoot settings_root_;
  kalo::platform::SettingsStore settings_{settings_root_.Path()};
  // A signed manifest's expiry is checked against this time of day.
  const kalo::platform::WallClock wall_clock_ = [] {
    return std::chrono::system_clock::from_time_t(1796000000);
  };
  cImpLicencas::ManifestTrust trust_{{}, settings_, fs_, install_, wall_clock_};
  RecordingObserver observer_;
  cImpLicencas::RunOutcome outcome_;
  cImpLicencas::UpdateServices services_{
      fs_,           processes_, resources_, ui_,       clock_,   transfer_,
      libraries_,    manifest_,  trust_,     observer_, install_, server_.BaseAddress(),
      "kalo_upd.exe"};
};

TEST_F(UpdateRunTest, FreshInstallHandsOverAndTheNextRunTouchesNothing) {
  const std::string acme = ServeArchive("acme", "exe");
  // A line with the file's digest is checked as it downloads, and passes.
  const std::string logo = ServePlain("logo", "jpg", "jpeg!") + "|" + Sha256Text("jpeg!");
  Publish("acme", {acme, logo});

  EXPECT_EQ(Run("ACME"), 0);
  ASSERT_TRUE(kalo::test::WaitUntilStarted(Path("acme.exe")));  // the product runs
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Ok. Já Baixei os Arquivos vou executar o programa agora!");
  EXPECT_EQ(ui_.messages[0].style, MessageStyle::kInformation);
  for (const char* name : {"unzip32.dll", "zip32.dll", "unzip32.exe", "zip32.exe",
                           "acme-exe-201811211540.zip", "logo-jpg-201811211540.jpg"}) {
    EXPECT_TRUE(fs::exists(Path(name))) << name;
  }
  EXPECT_EQ(ReadWholeFile(Path("acme.exe")), ReadWholeFile(KALO_TEST_PROGRAM));
  EXPECT_EQ(observer_.unpacked, std::vector<std::string>{"acme.exe"});
  EXPECT_EQ(observer_.replaced.size(), 2u);
  EXPECT_EQ(LeftOvers(), std::vector<std::string>{});
  // Every decision was reported with its reason, and so were the manifest and the hand-over.
  EXPECT_EQ(observer_.manifests,
            std::vector<std::string>{server_.BaseAddress() + "/trabalho/versao.php?id=acme"});
  const std::string missing = ": o arquivo não está na pasta";
  EXPECT_EQ(observer_.decided, (std::vector<std::string>{"acme-exe-201811211540.zip" + missing,
                                                         "logo-jpg-201811211540.jpg" + missing,
                                                         "acme.exe" + missing}));
  EXPECT_EQ(observer_.handed_over, std::vector<std::string>{Path("acme.exe")});
  EXPECT_TRUE(observer_.failed.empty());
  observer_.decided.clear();

  // Everything is current now: no download, no unpack, the running product is spared.
  std::map<std::string, fs::file_time_type> times;
  for (const auto& entry : fs::directory_iterator(install_)) {
    times[entry.path().string()] = fs::last_write_time(entry.path());
  }
  const auto requests = server_.RequestTargets().size();
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(server_.RequestTargets().size(), requests);
  for (const auto& [path, time] : times) {
    EXPECT_EQ(fs::last_write_time(path), time) << path;
  }
  const auto id = std::stoll(ReadWholeFile(Path("acme.exe.started")));
  EXPECT_TRUE(kalo::test::IsRunning(id));
  EXPECT_EQ(observer_.decided,
            (std::vector<std::string>{"acme-exe-201811211540.zip: current",
                                      "logo-jpg-201811211540.jpg: current", "acme.exe: current"}));
}

TEST_F(UpdateRunTest, PlainEntriesNeverHandOverAndUnsafeOnesAreSkipped) {
  InstallLibraries();
  server_.SetFile("a#b-x-1.txt", "hash");
  const std::string too_long = std::string(300, 'n') + "-txt-1.txt|4";
  Publish("acme",
          {ServePlain("logo", "jpg", "jpeg"), "a/../../etc/passwd-x-1.txt|4",
           "evil\\name-exe-1.zip|4", too_long, "a#b-x-1.txt|4", ServePlain("help", "txt", "text")});
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(ReadWholeFile(Path("help-txt-201811211540.txt")), "text");
  // A name with a character that means something in a URL travels encoded.
  EXPECT_EQ(ReadWholeFile(Path("a#b-x-1.txt")), "hash");
  const auto targets = server_.RequestTargets();
  EXPECT_NE(std::ranges::find(targets, "/trabalho/versao/a%23b-x-1.txt"), targets.end());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(LeftOvers(), std::vector<std::string>{});
  EXPECT_EQ(observer_.skipped, (std::vector<std::string>{"a/../../etc/passwd-x-1.txt|4",
                                                         "evil\\name-exe-1.zip|4", too_long}));
  for (const auto& target : server_.RequestTargets()) {
    EXPECT_EQ(target.find("passwd"), std::string::npos);
    EXPECT_EQ(target.find("evil"), std::string::npos);
  }
}

TEST_F(UpdateRunTest, FailedStepsEndTheRunAndPutTheOldFileBack) {
  InstallLibraries();
  struct Case {
    const char* what;
    std::function<std::string(UpdateRunTest&)> prepare;  // answers the manifest line
    std::string message;
    std::string reason;  // a part of the line "Motivo: ..."
    std::string kept;    // a file whose old content must survive
  };
  const std::vector<Case> cases{
      {"download fails",
       [](UpdateRunTest& t) {
         const std::string line = t.ServePlain("logo", "jpg", "jpeg");
         t.server_.SetFault("/trabalho/versao/logo-jpg-201811211540.jpg",
                            kalo::test::Fault::kNotFound);
         return line;
       },
       " Erro: Baixar: logo-jpg-201811211540.jpg", "Motivo: HTTP 404 Not Found",
       "logo-jpg-201811211540.jpg"},
      {"wrong length",
       [](UpdateRunTest& t) {
         t.server_.SetFile("logo-jpg-201811211540.jpg", "jpeg");
         return std::string("logo-jpg-201811211540.jpg|999");
       },
       " Erro: Versao: logo-jpg-201811211540.jpg", "o arquivo tem 4 bytes; a lista pede 999",
       "logo-jpg-201811211540.jpg"},
      {"corrupt archive",
       [](UpdateRunTest& t) {
         t.server_.SetFile("acme-exe-201811211540.zip", "PK not an archive");
         return std::string("acme-exe-201811211540.zip|17");
       },
       " Erro: Descompactar: acme-exe-201811211540.zip", "Not a zip archive", "acme.exe"},
      {"unpacked file has another version",
       [](UpdateRunTest& t) { return t.ServeArchive("acme", "exe", "no version here"); },
       " Erro: Versao: acme.exe", "o programa não tem versão; a lista pede 201811211540",
       "acme.exe"},
      {"archive aims at the saved copy",
       [](UpdateRunTest& t) {
         const std::string remote = std::string("acme-exe-") + kStamp + ".zip";
         kalo::test::ArchiveBuilder()
             .AddFile("acme.exe", "no version here")
             .AddFile("acme.exe.kalo-old", "evil")
             .AddFile(".kalo_upd/acme.exe", "evil")
             .Write(t.work_ / remote);
         t.server_.SetFile(remote, ReadWholeFile(t.work_ / remote));
         return remote + "|" + std::to_string(fs::file_size(t.work_ / remote));
       },
       " Erro: Versao: acme.exe", "o programa não tem versão", "acme.exe"},
      {"archive would not fit",
       [](UpdateRunTest& t) {
         t.fs_.free_space = 1000;
         return t.ServeArchive("acme", "exe", std::string(1 << 20, '\0'));
       },
       " Erro: Descompactar: acme-exe-201811211540.zip",
       "descompactado, ocuparia 1048576 bytes; a pasta tem 1000 bytes livres", "acme.exe"},
      {"content differs from its digest",
       [](UpdateRunTest& t) {
         return t.ServePlain("logo", "jpg", "jpeg") + "|" + Sha256Text("jpef");
       },
       " Erro: Baixar: logo-jpg-201811211540.jpg",
       "não confere com a lista de arquivos (SHA-256 " + Sha256Text("jpeg") + ", esperado " +
           Sha256Text("jpef"),
       "logo-jpg-201811211540.jpg"},
      {"a digest that is none",
       [](UpdateRunTest& t) { return t.ServePlain("logo", "jpg", "jpeg") + "|abc"; },
       " Erro: Baixar: logo-jpg-201811211540.jpg",
       "o SHA-256 abc da lista de arquivos não é válido", "logo-jpg-201811211540.jpg"},
      {"old file held",
       [](UpdateRunTest& t) {
         t.fs_.held = t.Path("logo-jpg-201811211540.jpg");
         return t.ServePlain("logo", "jpg", "jpeg");
       },
       " Erro: Excluir: ", "in use", "logo-jpg-201811211540.jpg"},
      // Nothing is moved aside before the record says so.
      {"record cannot be written",
       [](UpdateRunTest& t) {
         t.fs_.unwritable = t.Path(".kalo_upd/record");
         return t.ServePlain("logo", "jpg", "jpeg");
       },
       " Erro: Excluir: ", "disk full", "logo-jpg-201811211540.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manifest_ = {};
    ui_.messages.clear();
    fs_.held.clear();
    fs_.unwritable.clear();
    fs_.free_space.reset();
    observer_.failed.clear();
    server_.SetFault("/trabalho/versao/logo-jpg-201811211540.jpg", kalo::test::Fault::kNone);
    for (const char* old : {"logo-jpg-201811211540.jpg", "acme.exe"}) {
      work_.Write(std::string("KALO/") + old, "old content");
    }
    const std::string line = c.prepare(*this);
    Publish("acme", {line});
    EXPECT_EQ(Run("acme"), 1);
    ASSERT_EQ(ui_.messages.size(), 1u);
    const std::string first_line =
        c.message == " Erro: Excluir: " ? c.message + Path(c.kept) : c.message;
    const std::string& text = ui_.messages[0].text;
    EXPECT_TRUE(text.starts_with(first_line + "\r\nMotivo: ")) << text;
    EXPECT_NE(text.find(c.reason, first_line.size()), std::string::npos) << text;
    EXPECT_EQ(ui_.messages[0].style, MessageStyle::kError);
    EXPECT_EQ(ReadWholeFile(Path(c.kept)), "old content");
    EXPECT_EQ(LeftOvers(), std::vector<std::string>{});
    // The observer heard of the failure, in the same parts, before the program ended.
    ASSERT_EQ(observer_.failed.size(), 1u);
    EXPECT_EQ(" Erro: " + observer_.failed[0].step + "\r\nMotivo: " + observer_.failed[0].reason,
              text);
    EXPECT_TRUE(observer_.overlooked.empty());
  }
}

TEST_F(UpdateRunTest, TheUpdatersOwnEntry) {
  InstallLibraries();
  const std::string acme = ServeArchive("acme", "exe");
  const std::string updater = ServeArchive("kalo_upd", "exe");
  Publish("acme", {acme, updater});

  // Running as the installed updater: its own file is not touched, the product starts.
  EXPECT_EQ(Run("acme"), 0);
  EXPECT_FALSE(fs::exists(Path("kalo_upd.exe")));
  EXPECT_TRUE(kalo::test::WaitUntilStarted(Path("acme.exe")));

  // Under another name it unpacks the updater and asks before handing over to it.
  services_.own_exe_name = "setup.exe";
  ui_.answers = {MessageAnswer::kNo};
  ui_.messages.clear();
  EXPECT_EQ(Run("acme"), std::nullopt);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Posso fechar o sistema para atualização?");
  EXPECT_EQ(ui_.messages[0].style, MessageStyle::kQuestionYesNo);
  EXPECT_TRUE(fs::exists(Path("kalo_upd.exe")));
  EXPECT_FALSE(fs::exists(Path("kalo_upd.exe.started")));

  fs::remove(Path("kalo_upd.exe"));
  ui_.answers = {MessageAnswer::kYes};
  EXPECT_EQ(Run("acme"), 0);
  EXPECT_TRUE(kalo::test::WaitUntilStarted(Path("kalo_upd.exe")));
}

// The product running from this install folder is ended before its file is replaced;
// another installation's copy of it, with its unsaved work, is not.
TEST_F(UpdateRunTest, OnlyTheProductRunningFromTheInstallFolderIsEnded) {
  InstallLibraries();
  Publish("acme", {ServeArchive("acme", "exe")});
  const std::string other = work_ / "other/acme.exe";
  fs::create_directory(work_ / "other");
  std::vector<kalo::test::WatchedChild> running;
  for (const std::string& path : {Path("acme.exe"), other}) {
    fs::copy_file(KALO_TEST_PROGRAM_V2, path);
    running.emplace_back(processes_.Start(path, kalo::platform::WindowStyle::kHidden));
    ASSERT_TRUE(kalo::test::WaitUntilStarted(path));
  }
  fs::remove(Path("acme.exe.started"));

  EXPECT_EQ(Run("acme"), 0);
  EXPECT_EQ(running[0].WaitForEnd(), kalo::test::ChildEnd::kTerminated);
  // Given the time an ending takes, so that a copy ended as well cannot pass for alive.
  EXPECT_EQ(running[1].WaitForEnd(100ms), kalo::test::ChildEnd::kStillRunning);
  EXPECT_TRUE(kalo::test::WaitUntilStarted(Path("acme.exe")));  // the new one
}

TEST_F(UpdateRunTest, MissingProgramIsReported) {
  InstallLibraries();
  Publish("beta", {ServeArchive("acme", "exe")});
  EXPECT_EQ(Run("beta"), 1);
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[1].text, "Ops! o Arquivo não foi encontrado! \r\n\r\n" + Path("beta.exe"));
  EXPECT_EQ(ui_.messages[1].style, MessageStyle::kError);
}

TEST_F(UpdateRunTest, EveryStaleArchiveIsUnpackedAndProgramsWithoutModesStart) {
  InstallLibraries();
  // The product comes from an archive made on Windows, which stores no Unix mode.
  const std::string remote = std::string("acme-exe-") + kStamp + ".zip";
  kalo::test::ArchiveBuilder()
      .AddFile("acme.exe", ReadWholeFile(KALO_TEST_PROGRAM),
               kalo::test::EntryOptions().NoUnixMode())
      .Write(work_ / remote);
  server_.SetFile(remote, ReadWholeFile(work_ / remote));
  Publish("acme", {remote + "|" + std::to_string(fs::file_size(work_ / remote)),
                   ServeArchive("tool", "exe")});
  // Each archive unpacks to just the free space there is, which is enough.
  fs_.free_space = fs::file_size(KALO_TEST_PROGRAM);
  EXPECT_EQ(Run("acme"), 0);
  EXPECT_EQ(observer_.unpacked, (std::vector<std::string>{"acme.exe", "tool.exe"}));
  EXPECT_TRUE(kalo::test::WaitUntilStarted(Path("acme.exe")));
  EXPECT_EQ(LeftOvers(), std::vector<std::string>{});
}

TEST_F(UpdateRunTest, ARunThatGetsNoManifestOrNoLockDoesNothingAndSaysWhy) {
  using cImpLicencas::RunEnd;
  ui_.settled = nullptr;  // no extractor runs here
  work_.Write("KALO/logo-jpg-201811211540.jpg", "old content");
  server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kNotFound);
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(outcome_.end, RunEnd::kManifestNotReceived);
  ASSERT_TRUE(outcome_.failure);
  EXPECT_EQ(outcome_.failure->step, "A lista de arquivos não foi recebida de " +
                                        server_.BaseAddress() + "/trabalho/versao.php?id=acme");
  EXPECT_EQ(outcome_.failure->reason, "o servidor respondeu HTTP 404 Not Found");
  EXPECT_EQ(observer_.manifests,
            std::vector<std::string>{outcome_.failure->step + ": " + outcome_.failure->reason});

  server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kNone);
  server_.SetManifest("acme", "<html>licenca_</html>");
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(outcome_.end, RunEnd::kManifestNotFramed);

  // Another run holds the folder: this one waits a while, then gives up untouched.
  const auto held = kalo::platform::FileLock::TryLock(Path(".kalo_upd/lock"));
  ASSERT_TRUE(held);
  const auto requests = server_.RequestTargets().size();
  const auto before = clock_.Now();
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(outcome_.end, RunEnd::kFolderBusy);
  ASSERT_TRUE(outcome_.failure);
  EXPECT_NE(outcome_.failure->step.find(install_), std::string::npos);
  EXPECT_EQ(clock_.Now() - before, 5s);
  EXPECT_EQ(server_.RequestTargets().size(), requests);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ReadWholeFile(Path("logo-jpg-201811211540.jpg")), "old content");
}

// A signed release whose publishing time this user's settings cannot keep: the run goes
// on, and says so in its report.
TEST_F(UpdateRunTest, ASettingsStoreThatCannotBeWrittenIsReported) {
  kalo::platform::SettingsStore settings(settings_root_.Unwritable());
  const auto fixture = [](const std::string& name) {
    return ReadWholeFile(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/" + name);
  };
  cImpLicencas::ManifestTrust trust(
      {*cImpLicencas::ParsePublicKey(fixture("public_key.txt").substr(0, 130))}, settings, fs_,
      install_, wall_clock_);
  cImpLicencas::UpdateServices services{
      fs_,           processes_, resources_, ui_,       clock_,   transfer_,
      libraries_,    manifest_,  trust,      observer_, install_, server_.BaseAddress(),
      "kalo_upd.exe"};
  InstallLibraries();
  server_.SetManifest("acme", fixture("newer.txt"));
  server_.SetSignature("acme", fixture("newer.assinatura"));
  server_.SetFile("logo-jpg-201012011530.jpg", "jpeg");
  EXPECT_EQ(cImpLicencas::RunUpdate(services, "acme").end, cImpLicencas::RunEnd::kCompleted);
  EXPECT_EQ(ReadWholeFile(Path("logo-jpg-201012011530.jpg")), "jpeg");
  ASSERT_EQ(observer_.warned.size(), 1u);
  EXPECT_TRUE(observer_.warned[0].starts_with(
      "a data da lista de arquivos aceita não foi guardada nas configurações deste usuário: "))
      << observer_.warned[0];
}

TEST_F(UpdateRunTest, AnInterruptedRunIsMadeGoodFirst) {
  // What a run killed in the middle leaves: one file set aside whose replacement
  // never arrived, one whose replacement did, and the temporary files.
  fs::create_directory(Path(".kalo_upd"));
  work_.Write("KALO/.kalo_upd/record", "acme.exe\nlogo-jpg-201811211540.jpg\n");
  work_.Write("KALO/.kalo_upd/acme.exe", "old program");
  work_.Write("KALO/.kalo_upd/logo-jpg-201811211540.jpg", "old logo");
  work_.Write("KALO/logo-jpg-201811211540.jpg", "new logo");
  work_.Write("KALO/.kalo_upd/help.txt", "a copy the record missed");
  for (const char* stray :
       {".unzip32-1234.tmp", "logo-jpg-1.jpg.part-Ab12Cd", ".kalo_upd/record.part-Zz09aB"}) {
    work_.Write(std::string("KALO/") + stray, "partial");
  }
  work_.Write("KALO/notes.part-1", "not ours: kept");
  server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kNotFound);
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(ReadWholeFile(Path("acme.exe")), "old program");
  EXPECT_EQ(ReadWholeFile(Path("logo-jpg-201811211540.jpg")), "new logo");
  EXPECT_EQ(ReadWholeFile(Path("help.txt")), "a copy the record missed");
  EXPECT_EQ(LeftOvers(), std::vector<std::string>{Path("notes.part-1")});

  // A record that names anything but set-aside copies is not followed, and said so.
  work_.Write("KALO/.kalo_upd/record", "../acme.exe\n");
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(ReadWholeFile(Path("acme.exe")), "old program");
  ASSERT_EQ(observer_.warned.size(), 1u);
  EXPECT_TRUE(observer_.warned[0].starts_with("O registro " + Path(".kalo_upd/record")));
}

// A set-aside copy that cannot be put back stays where the next run's recovery finds it;
// the run goes on to its failure message, and the observer hears of what it let pass.
TEST_F(UpdateRunTest, ACopyThatCannotBePutBackIsReportedAndTheNextRunPutsItBack) {
  work_.Write("KALO/logo-jpg-201811211540.jpg", "old content");
  const std::string line = ServePlain("logo", "jpg", "jpeg");
  server_.SetFault("/trabalho/versao/logo-jpg-201811211540.jpg", kalo::test::Fault::kNotFound);
  Publish("acme", {line});
  fs_.held = Path(".kalo_upd/logo-jpg-201811211540.jpg");
  EXPECT_EQ(Run("acme"), 1);
  ASSERT_EQ(observer_.failed.size(), 1u);
  EXPECT_EQ(observer_.failed[0].step, "Baixar: logo-jpg-201811211540.jpg");
  // First by the failed step, then by every recovery on the way out.
  ASSERT_GE(observer_.overlooked.size(), 2u);
  EXPECT_EQ(observer_.overlooked[0],
            (kalo::Failure{"Repor: " + Path("logo-jpg-201811211540.jpg"), "in use"}));
  for (std::size_t at = 1; at < observer_.overlooked.size(); ++at) {
    EXPECT_EQ(observer_.overlooked[at].step, "Recuperar: " + install_);
    EXPECT_NE(observer_.overlooked[at].reason.find("in use"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(Path("logo-jpg-201811211540.jpg")));

  fs_.held.clear();
  observer_.overlooked.clear();
  manifest_ = {};
  server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kNotFound);
  EXPECT_EQ(Run("acme"), std::nullopt);
  EXPECT_EQ(ReadWholeFile(Path("logo-jpg-201811211540.jpg")), "old content");
  EXPECT_EQ(LeftOvers(), std::vector<std::string>{});
  EXPECT_TRUE(observer_.overlooked.empty());
}

TEST(OwnExeName, EndsInExe) {
  EXPECT_EQ(cImpLicencas::OwnExeName("/opt/kalo/kalo_upd"), "kalo_upd.exe");
  EXPECT_EQ(cImpLicencas::OwnExeName("/opt/kalo/kalo_upd.exe"), "kalo_upd.exe");
  EXPECT_EQ(cImpLicencas::OwnExeName("/opt/kalo.d/Setup.EXE"), "Setup.exe");
  EXPECT_EQ(cImpLicencas::OwnExeName("relative"), "relative.exe");
}

}  // namespace
