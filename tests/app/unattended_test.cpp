// kalo_upd --unattended, run as a real program against a real server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "helpers/acme_release.h"
#include "helpers/archive_builder.h"
#include "helpers/child_processes.h"
#include "helpers/install_folder.h"
#include "helpers/posix/program_run.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kManifestPath = "/trabalho/versao.php";
constexpr const char* kLogo = "logo-jpg-201811211540.jpg";
constexpr const char* kLogoPath = "/trabalho/versao/logo-jpg-201811211540.jpg";

// The names in `folder`, none when it is missing.
std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class UnattendedTest : public testing::Test {
 protected:
  UnattendedTest() {
    kalo::test::ServeAcmeRelease(server_, work_, ReadWholeFile(KALO_TEST_PROGRAM));
  }

  // The libraries are in place, so the run waits only where the update itself waits
  // (after the unpack and before the hand-over).
  void SetUp() override {
    fs::create_directory(install_);
    kalo::test::InstallArchiveLibraries(install_);
  }

  ~UnattendedTest() override {
    // The product was started by the updater, not by us: end it by its process id.
    kalo::test::EndStartedProgram(install_ + "/acme.exe");
  }

  std::vector<std::string> Environment() const {
    return {"KALO_DIR=" + install_, "XDG_CONFIG_HOME=" + work_ / "config"};
  }

  kalo::test::ProgramResult Updater(const std::vector<std::string>& arguments,
                                    const std::string& program = KALO_UPD_PROGRAM) {
    return kalo::test::RunProgram(program, arguments, Environment(), scratch_);
  }

  // A plain run for client "acme" against our server.
  kalo::test::ProgramResult UpdateAcme() {
    return Updater({"--unattended", "--server", server_.BaseAddress(), "--client", "acme"});
  }

  // Starts a plain run for "acme" and kills it (SIGKILL) once `ready` holds, ten seconds
  // at most; whether it held.
  bool KillUpdateWhen(const std::function<bool()>& ready) {
    const pid_t run = kalo::test::StartProgram(
        {KALO_UPD_PROGRAM, "--unattended", "--server", server_.BaseAddress(), "--client", "acme"},
        Environment(), scratch_ / "killed-out.txt");
    if (run <= 0) {
      ADD_FAILURE() << "the updater did not start";
      return false;
    }
    const bool held = kalo::test::WaitFor(ready, 10s);
    ::kill(run, SIGKILL);
    EXPECT_EQ(kalo::test::CollectChild(run), SIGKILL);
    return held;
  }

  std::string InInstall(const std::string& name) const { return install_ + "/" + name; }

  void Place(const std::string& name, const std::string& content) const {
    std::ofstream(InInstall(name), std::ios::binary) << content;
  }

  // Every run ends with each file either old or new, and nothing beside them: no set-aside
  // copy, no record, no partial download or unpack.
  testing::AssertionResult OnlyLeft(std::set<std::string> files) const {
    files.insert({"unzip32.dll", "zip32.dll", ".kalo_upd"});
    const auto listed = [](const std::set<std::string>& names) {
      std::string text;
      for (const std::string& name : names) {
        text += " " + name;
      }
      return text;
    };
    if (const auto left = NamesIn(install_); left != files) {
      return testing::AssertionFailure() << "install folder holds" << listed(left);
    }
    // The run log stays: it is there for support.
    auto corner = NamesIn(corner_);
    corner.erase("kalo_upd.log");
    if (const auto& left = corner; left != std::set<std::string>{"lock"}) {
      return testing::AssertionFailure() << ".kalo_upd holds" << listed(left);
    }
    return testing::AssertionSuccess();
  }

  std::string RunLog() const { return ReadWholeFile(corner_ + "/kalo_upd.log"); }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  kalo::test::TempFolder scratch_;
  const std::string install_ = work_ / "KALO";
  const std::string corner_ = install_ + "/.kalo_upd";
};

TEST_F(UnattendedTest, UpdatesTheInstallFolderAndHandsOver) {
  // On a pipe, the output ends only when no process holds it any more: the product,
  // which goes on running, must not have inherited it.
  const auto first = kalo::test::RunProgramThroughPipe(
      {KALO_UPD_PROGRAM, "--unattended", "--server", server_.BaseAddress(), "--client", " ACME "},
      Environment(), scratch_ / "err.txt", 10s);
  EXPECT_TRUE(first.output_closed) << "the output stayed open after the hand-over";
  EXPECT_EQ(first.exit_status, 0) << first.err;
  EXPECT_NE(first.err.find("Ok. Já Baixei os Arquivos vou executar o programa agora!"),
            std::string::npos);
  EXPECT_NE(first.out.find("Baixado: logo-jpg-201811211540.jpg"), std::string::npos);
  EXPECT_NE(first.out.find("Descompactado: acme.exe"), std::string::npos);
  EXPECT_NE(first.out.find("  Resposta recebida com sucesso de um host"), std::string::npos);
  ASSERT_TRUE(kalo::test::WaitUntilStarted(InInstall("acme.exe")));
  const auto product = static_cast<pid_t>(std::stoll(ReadWholeFile(InInstall("acme.exe.started"))));
  EXPECT_EQ(::kill(product, 0), 0) << "the product should still be running";
  EXPECT_EQ(server_.ManifestRequests(), std::vector<std::string>{"acme"});
  EXPECT_TRUE(OnlyLeft({"acme.exe", "acme.exe.started", "acme-exe-201811211540.zip", kLogo}));

  // The stored name serves the next run; everything is current.
  const auto second = Updater({"--unattended", "--server", server_.BaseAddress()});
  EXPECT_EQ(second.exit_status, 0) << second.err;
  EXPECT_EQ(second.out.find("Baixado:"), std::string::npos);
  EXPECT_NE(second.out.find("Tudo atualizado: nada foi baixado."), std::string::npos);
  EXPECT_EQ(second.err, "");
}

// Every run appends its story to the run log, in order: a first one that recovers what an
// earlier one left, replaces a stale file and hands over, then one that finds all current.
// Both go through a proxy whose user and password the log never holds.
TEST_F(UnattendedTest, EveryRunAppendsWhatItDidToTheRunLog) {
  kalo::test::TestProxy proxy;
  proxy.RequireCredentials({"pedro", "sigilo"});
  const std::string proxy_address = proxy.Address();
  fs::create_directories(work_ / "config/KALO");
  work_.Write("config/KALO/settings.ini", "[config]\nproxy=http://pedro:sigilo@" +
                                              proxy_address.substr(proxy_address.find("://") + 3) +
                                              "\n");
  Place(kLogo, "old");
  fs::create_directory(corner_);
  std::ofstream(corner_ + "/record").flush();
  Place("acme.exe.part-Ab12Cd", "half");
  EXPECT_EQ(UpdateAcme().exit_status, 0);
  ASSERT_TRUE(kalo::test::WaitUntilStarted(InInstall("acme.exe")));
  EXPECT_EQ(UpdateAcme().exit_status, 0);

  const std::string base = server_.BaseAddress();
  const std::string logo_size = "4";  // the fixture's logo
  const std::vector<std::string> story = {
      " início versão=",
      " modo=automático",
      " recuperação ação=removido arquivo=" + InInstall("acme.exe.part-Ab12Cd"),
      " transferência url=" + base + "/trabalho/versao.php?id=acme status=200 bytes=",
      " lista endereço=" + base + "/trabalho/versao.php?id=acme situação=recebida",
      " entrada arquivo=" + std::string(kLogo) +
          " decisão=desatualizado critério=tamanho local=3 "
          "lista=" +
          logo_size,
      " guardado arquivo=" + std::string(kLogo),
      " transferência url=" + base + kLogoPath + " status=200 bytes=" + logo_size,
      " descartado arquivo=" + std::string(kLogo),
      " baixado arquivo=" + std::string(kLogo),
      " entrada arquivo=acme.exe decisão=desatualizado critério=presença local=ausente",
      " descompactado arquivo=acme.exe",
      " entrega programa=" + InInstall("acme.exe"),
      " fim resultado=entregue saída=0",
      " início versão=",
      " entrada arquivo=acme.exe decisão=atual critério=versão local=201811211540 "
      "lista=201811211540",
      " fim resultado=concluída saída=0\n",
  };
  const std::string log = RunLog();
  std::size_t at = 0;
  for (const std::string& part : story) {
    at = log.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " after the parts before it, in\n" << log;
  }
  EXPECT_FALSE(proxy.RequestTargets().empty());
  EXPECT_NE(log.find(" proxy=http://***@127.0.0.1:"), std::string::npos) << log;
  EXPECT_EQ(log.find("pedro"), std::string::npos) << log;
  EXPECT_EQ(log.find("sigilo"), std::string::npos) << log;
}

TEST_F(UnattendedTest, ExitStatusesTellWhatHappened) {
  const auto refused =
      Updater({"--unattended", "--server", server_.BaseAddress(), "--client", " "});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("Preencha o Campo Nome da Empresa"), std::string::npos);

  EXPECT_EQ(Updater({"--unattended", "--frobnicate"}).exit_status, 2);
  const auto header = Updater(
      {"--unattended", "--server", server_.BaseAddress() + "/\r\nX-Evil: 1", "--client", "acme"});
  EXPECT_EQ(header.exit_status, 2);
  EXPECT_NE(header.err.find("--server não aceita caracteres de controle"), std::string::npos)
      << header.err;

  // A client name that would start a program outside the install folder.
  const auto evil = Updater(
      {"--unattended", "--server", server_.BaseAddress(), "--client", "../../somewhere/evil"});
  EXPECT_EQ(evil.exit_status, 2);
  EXPECT_NE(evil.err.find("não serve como nome de programa"), std::string::npos) << evil.err;
  EXPECT_TRUE(server_.ManifestRequests().empty());

  const auto version = Updater({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_TRUE(version.out.starts_with("kalo_upd "));

  // A built-in key that is no point of the curve stops the updater before anything.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--unattended", "--server", server_.BaseAddress(), "--client",
                                 "acme"},
        {"--version"}}) {
    const auto bad_key = Updater(arguments, KALO_BAD_KEY_UPD_PROGRAM);
    EXPECT_EQ(bad_key.exit_status, 2);
    EXPECT_NE(bad_key.err.find("não é válida: não é um ponto da curva P-256"), std::string::npos)
        << bad_key.err;
    EXPECT_EQ(bad_key.out, "");
  }
  EXPECT_TRUE(server_.ManifestRequests().empty());
}

// The real program ends at once on a failed step, unlike the tests' fake interface
// that unwinds: the file moved aside for its replacement must be back before it ends.
TEST_F(UnattendedTest, AFailedStepPutsTheOldFileBackBeforeTheProgramEnds) {
  struct Case {
    const char* what;
    std::string file;     // the file in place, whose old content must survive
    std::string archive;  // what is served as the archive; empty: the fixture's
    std::string message;  // the failure's first line
    std::string reason;   // a part of its "Motivo:" line
  };
  const std::string unversioned = work_ / "unversioned.zip";
  kalo::test::ArchiveBuilder().AddFile("acme.exe", "no version").Write(unversioned);
  const std::vector<Case> cases{
      {"download", kLogo, "", " Erro: Baixar: logo-jpg-201811211540.jpg", "HTTP 404 Not Found"},
      {"check after the download", kLogo, "", " Erro: Versao: logo-jpg-201811211540.jpg",
       "o arquivo tem 3 bytes; a lista pede 4"},
      {"longer than its entry", kLogo, "", " Erro: Baixar: logo-jpg-201811211540.jpg",
       "o servidor anuncia 5 bytes, mais que os 4 esperados"},
      {"unpack", "acme.exe", "PK but no archive", " Erro: Descompactar: acme-exe-201811211540.zip",
       "Not a zip archive"},
      {"check after the unpack", "acme.exe", ReadWholeFile(unversioned), " Erro: Versao: acme.exe",
       "o programa não tem versão"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(install_)) {
      if (entry.path().filename() != "unzip32.dll" && entry.path().filename() != "zip32.dll") {
        fs::remove_all(entry.path());
      }
    }
    Place(c.file, "old content");
    server_.SetFault(kLogoPath, c.what == std::string("download") ? kalo::test::Fault::kNotFound
                                                                  : kalo::test::Fault::kNone);
    const std::string what = c.what;
    server_.SetFile(kLogo, what == "check after the download" ? "jpg"
                           : what == "longer than its entry"  ? "jpeg!"
                                                              : "jpeg");
    const std::string archive =
        c.archive.empty() ? ReadWholeFile(work_ / "archive.zip") : c.archive;
    server_.SetFile("acme-exe-201811211540.zip", archive);
    server_.SetManifest("acme", "licenca_\r\nacme-exe-201811211540.zip|" +
                                    std::to_string(archive.size()) +
                                    "\r\nlogo-jpg-201811211540.jpg|4\r\n_licenca");
    const auto failed = UpdateAcme();
    EXPECT_EQ(failed.exit_status, 1);
    EXPECT_NE(failed.err.find(c.message + "\nMotivo: "), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find(c.reason), std::string::npos) << failed.err;
    EXPECT_EQ(ReadWholeFile(InInstall(c.file)), "old content");
    EXPECT_TRUE(OnlyLeft({c.file, "acme-exe-201811211540.zip", kLogo}));
    const std::string step = c.message.substr(std::string(" Erro: ").size());
    for (const std::string& line :
         {"reposto arquivo=" + c.file, "fim resultado=falha saída=1 motivo=\"" + step + ": "}) {
      EXPECT_NE(RunLog().find(line), std::string::npos) << line << "\n" << RunLog();
    }
  }
}

// The password of the server address reaches the server, and nothing the run writes.
TEST_F(UnattendedTest, NeverShowsThePasswordOfTheServerAddress) {
  server_.RequireCredentials({"ana", "segredo"});
  const std::string base = server_.BaseAddress();
  const auto with = [&base](const std::string& user_info) {
    return "http://" + user_info + "@" + base.substr(base.find("://") + 3);
  };
  const auto refused =
      Updater({"--unattended", "--server", with("ana:errada"), "--client", "acme"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("recebida de " + with("ana:***")), std::string::npos) << refused.err;
  const auto run = Updater({"--unattended", "--server", with("ana:segredo"), "--client", "acme"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  for (const auto& [text, password] : {std::pair{refused.out + refused.err, "errada"},
                                       {run.out + run.err, "segredo"},
                                       {RunLog(), "errada"},
                                       {RunLog(), "segredo"}}) {
    EXPECT_EQ(text.find(password), std::string::npos) << text;
  }
  EXPECT_NE(RunLog().find(" início "), std::string::npos) << RunLog();
}

// Whatever came instead of a manifest, the run says so, ends with 1 and touches nothing.
// A framed manifest that lists no file returns, as it always did, but never passes for
// "up to date": the listed file may well be stale.
TEST_F(UnattendedTest, SaysWhyTheManifestWasNotReceived) {
  struct Case {
    const char* what;
    kalo::test::FaultPlan fault;
    std::string manifest;  // empty: the fixture's manifest
    int exit_status;
    std::string reason;  // on standard error, or standard output when the run returned;
                         // "{address}" stands for the manifest's address
  };
  const std::string nothing_listed =
      "A lista de arquivos de {address} não traz arquivos: nada foi verificado nem baixado.";
  const std::vector<Case> cases = {
      {"404", kalo::test::Fault::kNotFound, "", 1, "o servidor respondeu HTTP 404 Not Found"},
      {"busy on every attempt",
       {kalo::test::Fault::kBusy, -1, 0, std::nullopt, 0},
       "",
       1,
       "o servidor respondeu HTTP 503 Service Unavailable"},
      {"HTML page with status 200", kalo::test::Fault::kNone,
       "<html><body><h1>Manutenção</h1></body></html>", 1,
       "a resposta não é uma lista de arquivos (faltam as marcas licenca_ e _licenca)"},
      {"body cut before its closing marker", kalo::test::Fault::kNone,
       "licenca_\r\nlogo-jpg-201811211540.jpg|4\r\n", 1,
       "a resposta não é uma lista de arquivos (faltam as marcas licenca_ e _licenca)"},
      // twice the manifest's cap
      {"endless body",
       {kalo::test::Fault::kEndlessBody, -1, 32 << 20},
       "licenca_\r\n",
       1,
       "A resposta de {address} passa de 16 MiB"},
      {"empty framed manifest", kalo::test::Fault::kNone, "licenca_\r\n\r\n_licenca", 0,
       nothing_listed},
      {"one entry with line feeds only: a single line", kalo::test::Fault::kNone,
       "licenca_\nlogo-jpg-201811211540.jpg|4\n_licenca", 0, nothing_listed},
      {"blank lines only", kalo::test::Fault::kNone, "licenca_\r\n\r\n\r\n\r\n_licenca", 0,
       nothing_listed},
  };
  const std::string manifest = "licenca_\r\nlogo-jpg-201811211540.jpg|4\r\n_licenca";
  const std::string address = server_.BaseAddress() + kManifestPath + "?id=acme";
  Place(kLogo, "old content");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_.SetManifest("acme", c.manifest.empty() ? manifest : c.manifest);
    server_.PlanFaults(kManifestPath, {c.fault});
    const auto requests_before = server_.ManifestRequests().size();
    const auto run = UpdateAcme();
    // A busy server is asked five times; any other answer once.
    EXPECT_EQ(server_.ManifestRequests().size() - requests_before,
              c.fault.fault == kalo::test::Fault::kBusy ? 5u : 1u);
    server_.SetFault(kManifestPath, kalo::test::Fault::kNone);

    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    std::string reason = c.reason;
    if (const auto at = reason.find("{address}"); at != std::string::npos) {
      reason.replace(at, std::string_view("{address}").size(), address);
    }
    EXPECT_EQ(run.out.find("Tudo atualizado"), std::string::npos) << run.out;
    if (c.exit_status == 0) {
      EXPECT_EQ(run.err, "");
      EXPECT_NE(run.out.find(reason + "\n"), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.err, "kalo_upd: A lista de arquivos não foi recebida de " + address + ": " +
                             reason + "\n");
    }
    EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), "old content");
    EXPECT_TRUE(OnlyLeft({kLogo}));
  }
  for (const std::string& target : server_.RequestTargets()) {
    EXPECT_TRUE(target.starts_with(kManifestPath)) << "fetched " << target;
  }
}

// A link that drops every connection after a part of the file still brings it in one run:
// each attempt continues where the last stopped, so no byte comes twice, and the log
// says how many attempts it took and where the last one started.
// Bytes that differ from place to place, and from one `seed` to another, so that a
// body joined at the wrong place or from two files is seen.
std::string Varied(std::size_t size, std::size_t seed = 7) {
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    content[i] = static_cast<char>(i * seed % 251);
  }
  return content;
}

TEST_F(UnattendedTest, ADownloadCutOffAgainAndAgainContinuesWhereItStopped) {
  const std::string content = Varied(300000);
  server_.SetFile(kLogo, content);
  server_.SetManifest("acme", "licenca_\r\n" + std::string(kLogo) + "|" +
                                  std::to_string(content.size()) + "\r\n_licenca");
  server_.PlanFaults(kLogoPath, {{kalo::test::Fault::kDropAfter, -1, 100000}});
  const auto run = UpdateAcme();
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), content);
  EXPECT_EQ(server_.FileBytesSent(), content.size());
  EXPECT_EQ(server_.RangeRequests(),
            (std::vector<std::string>{"", "bytes=100000-", "bytes=200000-"}));
  EXPECT_NE(RunLog().find("tentativas=3 retomada_de=200000"), std::string::npos) << RunLog();
}

// A run killed in the middle of a download leaves what reached the disk in the hidden
// folder; the next run continues it when it asks for the same entry of the same file,
// and starts again otherwise.
TEST_F(UnattendedTest, ADownloadKeptByAKilledRunIsContinuedOnlyForTheSameFile) {
  const std::string first = Varied(20 << 20);
  const struct {
    const char* name;
    std::string served;  // the file on the server for the second run
    bool with_digest;    // both manifests carry the file's SHA-256
    bool entry_changed;  // the second manifest gives another length
    bool continued;
  } cases[] = {
      {"the same file", first, true, false, true},
      {"the file changed on the server", Varied(20 << 20, 11), false, false, false},
      {"the entry changed", Varied((20 << 20) + 1, 11), false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(install_);
    SetUp();
    const auto manifest = [&c](const std::string& content) {
      std::string line = std::string(kLogo) + "|" + std::to_string(content.size());
      if (c.with_digest) {
        line += "|" + kalo::test::Sha256Text(content);
      }
      return "licenca_\r\n" + line + "\r\n_licenca";
    };
    server_.SetFile(kLogo, first);
    server_.SetManifest("acme", manifest(first));
    server_.SetFault(kLogoPath, kalo::test::Fault::kStallMidBody);
    // Half the file arrives, and the part on the disk is recorded.
    const bool recorded = KillUpdateWhen([&] {
      return std::ranges::any_of(NamesIn(corner_),
                                 [](const std::string& name) { return name.ends_with("-info"); });
    });
    ASSERT_TRUE(recorded);

    server_.SetFault(kLogoPath, kalo::test::Fault::kNone);
    server_.SetFile(kLogo, c.served);
    server_.SetManifest("acme", manifest(c.entry_changed ? c.served : first));
    const std::uint64_t sent_before = server_.FileBytesSent();
    const std::size_t ranges_before = server_.RangeRequests().size();
    const auto run = UpdateAcme();
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), c.served);
    EXPECT_TRUE(OnlyLeft({kLogo}));
    const std::vector<std::string> ranges = server_.RangeRequests();
    ASSERT_EQ(ranges.size(), ranges_before + 1);
    const std::string& asked = ranges.back();
    const std::uint64_t sent = server_.FileBytesSent() - sent_before;
    if (c.continued) {
      // At least the 8 MiB put on the disk before the kill, no more than arrived.
      ASSERT_TRUE(asked.starts_with("bytes=") && asked.ends_with("-")) << asked;
      const std::uint64_t held = std::stoull(asked.substr(6));
      EXPECT_GE(held, std::uint64_t{8} << 20);
      EXPECT_LE(held, first.size() / 2);
      EXPECT_EQ(sent, first.size() - held);
    } else {
      EXPECT_EQ(sent, c.served.size()) << asked;
    }
  }
}

// A run killed while a file is set aside leaves the product without it; the next run
// puts it back before anything else, even when it then gets no manifest.
TEST_F(UnattendedTest, RecoversFromARunKilledDuringADownload) {
  const std::string notes = "notes-txt-201811211540.txt";
  server_.SetFile(notes, "new notes");
  server_.SetManifest("acme", "licenca_\r\n" + notes + "|9\r\n" + kLogo + "|4\r\n_licenca");
  Place(notes, "old notes, longer");
  Place(kLogo, "old content");
  server_.SetFault(kLogoPath, kalo::test::Fault::kStallMidBody);

  const bool stalled = KillUpdateWhen(
      [&] { return fs::exists(corner_ + "/" + kLogo) && kalo::test::HoldsKeptDownload(install_); });
  ASSERT_TRUE(stalled);
  // The dangerous moment: the old file is aside, its replacement half written, and the
  // file before it already replaced.
  EXPECT_FALSE(fs::exists(InInstall(kLogo)));
  EXPECT_EQ(ReadWholeFile(corner_ + "/" + kLogo), "old content");
  EXPECT_EQ(ReadWholeFile(InInstall(notes)), "new notes");
  EXPECT_FALSE(fs::exists(corner_ + "/" + notes));

  server_.SetFault(kManifestPath, kalo::test::Fault::kNotFound);
  const auto without_manifest = UpdateAcme();
  EXPECT_EQ(without_manifest.exit_status, 1) << without_manifest.err;
  EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), "old content");
  EXPECT_EQ(ReadWholeFile(InInstall(notes)), "new notes");
  EXPECT_TRUE(OnlyLeft({notes, kLogo}));

  server_.SetFault(kManifestPath, kalo::test::Fault::kNone);
  server_.SetFault(kLogoPath, kalo::test::Fault::kNone);
  const auto healthy = UpdateAcme();
  EXPECT_EQ(healthy.exit_status, 0) << healthy.err;
  EXPECT_NE(healthy.out.find(std::string("Baixado: ") + kLogo), std::string::npos) << healthy.out;
  EXPECT_EQ(healthy.out.find("Baixado: " + notes), std::string::npos) << healthy.out;
  EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), "jpeg");
  EXPECT_EQ(ReadWholeFile(InInstall(notes)), "new notes");
  EXPECT_TRUE(OnlyLeft({notes, kLogo}));
}

// The state a run leaves when it dies during an unpack, made by hand: the recovery
// puts back what is missing, drops copies of what is there, and removes every
// temporary file, whether or not the record names them.
TEST_F(UnattendedTest, RecoversWhatAnInterruptedUnpackLeft) {
  fs::create_directory(corner_);
  std::ofstream(corner_ + "/acme.exe", std::ios::binary) << "old program";
  std::ofstream(corner_ + "/" + kLogo, std::ios::binary) << "older logo";
  std::ofstream(corner_ + "/readme.txt", std::ios::binary) << "the record lost me";
  std::ofstream(corner_ + "/record", std::ios::binary) << "acme.exe\n" << kLogo << "\n";
  std::ofstream(corner_ + "/record.part-Zz9Yy8", std::ios::binary) << "acme.exe\n";
  Place(kLogo, "current logo");
  Place(".unzip32-123.tmp", "half an executable");
  Place("x.part-Ab12Cd", "half a download");
  server_.SetFault(kManifestPath, kalo::test::Fault::kNotFound);

  const auto run = UpdateAcme();
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_EQ(ReadWholeFile(InInstall("acme.exe")), "old program");
  EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), "current logo");
  EXPECT_EQ(ReadWholeFile(InInstall("readme.txt")), "the record lost me");
  EXPECT_TRUE(OnlyLeft({"acme.exe", kLogo, "readme.txt"}));
}

// While another run holds the install folder, a second one waits a little, then gives
// up without fetching anything or touching the other run's files.
TEST_F(UnattendedTest, LeavesAFolderInUseAlone) {
  fs::create_directory(corner_);
  const int held = ::open((corner_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  Place(kLogo, "old content");
  const std::string in_progress = std::string(kLogo) + ".part-Ab12Cd";
  Place(in_progress, "the other run's download");

  const auto started = std::chrono::steady_clock::now();
  const auto run = UpdateAcme();
  const auto waited = std::chrono::steady_clock::now() - started;
  ::close(held);

  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find("Outra atualização está em andamento na pasta " + install_),
            std::string::npos)
      << run.err;
  EXPECT_LT(waited, 10s);
  EXPECT_TRUE(server_.ManifestRequests().empty());
  EXPECT_EQ(ReadWholeFile(InInstall(kLogo)), "old content");
  EXPECT_TRUE(OnlyLeft({kLogo, in_progress}));
}

}  // namespace
