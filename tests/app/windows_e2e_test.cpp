// The Windows updater, kalo_upd.exe of the win64 build, run under wine64 against the
// in-process server: the unattended mode with its output on a pipe (built with a key,
// on a signed release), and the window on a virtual display. Each installs the product from an
// archive, provides unzip32.dll from the extractor the updater carries, and hands over to the
// product, a Windows program that leaves a mark. Skipped where wine64 is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "helpers/acme_release.h"
#include "helpers/posix/program_run.h"
#include "helpers/posix/publish_server.h"
#include "helpers/posix/test_authority.h"
#include "helpers/posix/virtual_display.h"
#include "helpers/posix/window_scenario.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "publish/signing.h"
#include "support/text.h"
#include "update/protocol.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kWine = "/usr/lib/wine/wine64";

// How a Windows program under wine names a Linux path: through the drive Z:.
std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// The test authority among the roots that this wine prefix trusts, for as long as it
// lives: WinINet under wine checks server certificates against them.
class WineTrustedRoot {
 public:
  WineTrustedRoot(const kalo::test::TestAuthority& authority, const kalo::test::TempFolder& scratch)
      : scratch_(scratch) {
    const std::string der = scratch_ / "authority.der";
    kalo::test::RunProgram(
        "openssl", {"x509", "-in", authority.CertificateFile(), "-outform", "DER", "-out", der}, {},
        scratch_);
    std::string fingerprint = kalo::test::RunProgram("openssl",
                                                     {"x509", "-in", authority.CertificateFile(),
                                                      "-noout", "-fingerprint", "-sha1"},
                                                     {}, scratch_)
                                  .out;
    fingerprint = fingerprint.substr(fingerprint.find('=') + 1);
    std::erase_if(fingerprint, [](char c) { return c == ':' || c == '\n'; });
    key_ += fingerprint;
    // The registry keeps a certificate as its properties: id 32 (the encoded
    // certificate), a reserved 1 and the length, little-endian, then the bytes.
    const std::string certificate = ReadWholeFile(der);
    std::string blob;
    for (const std::uint32_t word : {32u, 1u, static_cast<std::uint32_t>(certificate.size())}) {
      for (int shift = 0; shift < 32; shift += 8) {
        blob += static_cast<char>((word >> shift) & 0xff);
      }
    }
    blob += certificate;
    Registry({"add", key_, "/v", "Blob", "/t", "REG_BINARY", "/d",
              cUpdate::HexText(std::as_bytes(std::span(blob))), "/f"});
  }
  WineTrustedRoot(const WineTrustedRoot&) = delete;
  WineTrustedRoot& operator=(const WineTrustedRoot&) = delete;
  ~WineTrustedRoot() { Registry({"delete", key_, "/f"}); }

 private:
  void Registry(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "reg");
    kalo::test::RunProgram(kWine, arguments, {"WINEDEBUG=-all"}, scratch_);
  }

  const kalo::test::TempFolder& scratch_;
  std::string key_ = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
};

class WindowsEndToEnd : public testing::Test, public kalo::test::WindowDriver {
 protected:
  void SetUp() override {
    if (!fs::exists(kWine)) {
      GTEST_SKIP() << "wine64 is not installed";
    }
    fs::create_directory(install_);
    kalo::test::ServeAcmeRelease(server_, work_, ReadWholeFile(KALO_WIN64_TEST_PROGRAM));
  }

  // The archive libraries a client's folder holds since its first run, so that a run
  // need not wait for their extractors (the window test starts from an empty folder).
  void PlaceArchiveLibraries() const {
    fs::copy_file(KALO_WIN64_UNZIP32_LIBRARY, install_ + "/unzip32.dll");
    fs::copy_file(KALO_WIN64_ZIP32_LIBRARY, install_ + "/zip32.dll");
  }

  void TearDown() override {
    if (updater_ > 0) {
      ::kill(updater_, SIGKILL);
      ::waitpid(updater_, nullptr, 0);
    }
    // The product runs under wine: it is ended there, by its Windows process id.
    if (const std::string mark = install_ + "/acme.exe.started"; fs::exists(mark)) {
      const std::string text = ReadWholeFile(mark);
      kalo::test::RunProgram(kWine, {"taskkill", "/f", "/pid", text.substr(0, text.find('\n'))}, {},
                             work_);
    }
  }

  // The updater's command line under wine, the server's address first.
  std::vector<std::string> Command(const std::vector<std::string>& arguments,
                                   const std::string& updater = KALO_WIN64_UPDATER) const {
    std::vector<std::string> command = {kWine, updater, "--server", server_.BaseAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
  }

  std::vector<std::string> Environment() const {
    return {"KALO_DIR=" + WindowsPath(install_), "WINEDEBUG=-all"};
  }

  const kalo::test::VirtualDisplay& Display() const override { return display_; }

  pid_t StartUpdater() override {
    std::vector<std::string> environment = Environment();
    environment.push_back("DISPLAY=" + display_.Name());
    return kalo::test::StartProgram(Command({}), environment);
  }

  // Wine takes real key presses only (XTEST), not events sent to a window; the name box
  // has the focus from the start, showing the name stored by an earlier run.
  void EnterName(const std::string& /*window*/, const std::string& name) override {
    display_.Xdotool("key End");
    display_.Xdotool("key --repeat 40 BackSpace");
    display_.Xdotool("type --delay 30 " + name);
    display_.Xdotool("key Return");
  }

  void ExpectHandedOver() const override { ExpectUpdatedAndHandedOver(); }

  // What a successful run leaves: the product unpacked and started, the data file,
  // and the unzip library provided from the carried extractor.
  void ExpectUpdatedAndHandedOver() const {
    EXPECT_TRUE(
        kalo::test::WaitFor([&] { return fs::exists(install_ + "/acme.exe.started"); }, 20s))
        << "the product was not started";
    EXPECT_EQ(ReadWholeFile(install_ + "/acme.exe"), ReadWholeFile(KALO_WIN64_TEST_PROGRAM));
    EXPECT_EQ(ReadWholeFile(install_ + "/logo-jpg-201811211540.jpg"), "jpeg");
    EXPECT_TRUE(fs::exists(install_ + "/unzip32.dll"));
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "KALO";
  kalo::test::VirtualDisplay display_;
  pid_t updater_ = -1;
};

// The updater built with a key, on a release signed with it: it refuses the manifest
// with one byte changed, downloading nothing, then takes the one as published.
TEST_F(WindowsEndToEnd, UnattendedSignedRunWritesToAPipeAndHandsOver) {
  const std::string manifest =
      kalo::test::ServeAcmeRelease(server_, work_, ReadWholeFile(KALO_WIN64_TEST_PROGRAM), true);
  const auto key = kalo::publish::SigningKey::Load(std::string(KALO_TEST_FIXTURE_DIR) +
                                                   "/signed/signing_key.pem");
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  server_.SetSignature(
      "acme", cImpLicencas::SignatureFileText(
                  key.Sign(cImpLicencas::SignedFor::Client("acme"), manifest, now, std::nullopt)));
  const auto command = Command({"--unattended", "--client", "acme"}, KALO_WIN64_SIGNED_UPDATER);
  PlaceArchiveLibraries();

  std::string altered = manifest;
  altered[altered.find("|4|") + 1] = '5';
  server_.SetManifest("acme", altered);
  const auto refused =
      kalo::test::RunProgramThroughPipe(command, Environment(), work_ / "err.txt", 60s);
  EXPECT_EQ(refused.exit_status, 1) << refused.err;
  EXPECT_NE(refused.err.find("não confere"), std::string::npos) << refused.err;
  EXPECT_EQ(fs::exists(install_ + "/logo-jpg-201811211540.jpg"), false);

  server_.SetManifest("acme", manifest);
  const auto run =
      kalo::test::RunProgramThroughPipe(command, Environment(), work_ / "err.txt", 60s);
  EXPECT_TRUE(run.output_closed) << "the output stayed open after the hand-over";
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("Baixado: logo-jpg-201811211540.jpg"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Descompactado: acme.exe"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Ok. Já Baixei os Arquivos vou executar o programa agora!"),
            std::string::npos)
      << run.err;
  ExpectUpdatedAndHandedOver();
}

// The Linux ids of the processes that wine runs for the Windows program at `path`: wine
// gives each the program's Windows path as its first argument.
std::vector<pid_t> WineProcessesOf(const std::string& path) {
  std::vector<pid_t> ids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string id = entry.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const std::string arguments = ReadWholeFile(entry.path() / "cmdline");
    if (arguments.substr(0, arguments.find('\0')) == WindowsPath(path)) {
      ids.push_back(std::stoi(id));
    }
  }
  return ids;
}

// A vendor moves to a new key. The updater its clients have, built with the old key and
// installed under a name of their own, takes a release signed with the old key that
// carries kalo_upd.exe built with both keys, unpacks it and hands over to it. The next
// release is signed with the new key alone: the old updater refuses it, naming the key
// it lacks and installing nothing, and the new kalo_upd.exe takes it. kalo-publish
// builds and serves both releases, as for a vendor.
TEST_F(WindowsEndToEnd, ANewSigningKeyReachesClientsThroughAnUpdaterWithBothKeys) {
  const std::string release = work_ / "release";
  const std::string server_folder = work_ / "server";
  const kalo::test::TempFolder scratch;
  const auto publish = [&](const std::string& key) {
    const auto run =
        kalo::test::RunProgram(KALO_PUBLISH_PROGRAM,
                               {"build", release, "--out", server_folder, "--client", "acme",
                                "--sign", kalo::test::FixtureSigningKey(scratch, key)},
                               {}, scratch);
    ASSERT_EQ(run.exit_status, 0) << run.err;
  };
  fs::create_directory(release);
  // The updater alone: every archive unpacked costs the run its pause after the unpack.
  fs::copy_file(KALO_WIN64_ROTATED_UPDATER, release + "/kalo_upd.exe");
  publish("signing_key.pem");
  const kalo::test::PublishServer server(server_folder, work_ / "server.log");
  // The second release adds a data file, which keeps its name on the server.
  const auto installed_readme = [&] {
    for (const auto& entry : fs::directory_iterator(install_)) {
      if (const std::string name = entry.path().filename().string();
          name.starts_with("leiame-txt-")) {
        return name;
      }
    }
    return std::string();
  };
  const std::string old_updater = install_ + "/atualizador.exe";
  fs::copy_file(KALO_WIN64_SIGNED_UPDATER, old_updater);
  PlaceArchiveLibraries();
  const auto update = [&](const std::string& updater) {
    return kalo::test::RunProgramThroughPipe(
        {kWine, updater, "--server", server.Url(), "--unattended", "--yes", "--client", "acme"},
        Environment(), work_ / "err.txt", 60s);
  };

  const auto handing_over = update(old_updater);
  EXPECT_EQ(handing_over.exit_status, 0) << handing_over.err;
  EXPECT_NE(handing_over.out.find("Descompactado: kalo_upd.exe"), std::string::npos)
      << handing_over.out;
  EXPECT_NE(handing_over.err.find("Posso fechar o sistema para atualização?"), std::string::npos)
      << handing_over.err;
  EXPECT_EQ(ReadWholeFile(install_ + "/kalo_upd.exe"), ReadWholeFile(KALO_WIN64_ROTATED_UPDATER));
  // The new updater was started, with its window: seen, it is ended.
  std::vector<pid_t> started;
  EXPECT_TRUE(kalo::test::WaitFor(
      [&] { return !(started = WineProcessesOf(install_ + "/kalo_upd.exe")).empty(); }, 20s))
      << "the updater did not hand over to kalo_upd.exe";
  for (const pid_t id : started) {
    ::kill(id, SIGKILL);
  }

  work_.Write("release/leiame.txt", "leia-me");
  publish("new_signing_key.pem");
  const auto refused = update(old_updater);
  EXPECT_EQ(refused.exit_status, 1) << refused.err;
  EXPECT_NE(refused.err.find("a lista de arquivos foi assinada com a chave d0d492fd02efd6d9, que "
                             "este atualizador não tem (ele aceita: 0588f99f2063b9bc)"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(installed_readme(), "");

  const auto taken = update(install_ + "/kalo_upd.exe");
  EXPECT_EQ(taken.exit_status, 0) << taken.err;
  EXPECT_NE(taken.out.find("Baixado: leiame-txt-"), std::string::npos) << taken.out;
  EXPECT_EQ(taken.out.find("Descompactado"), std::string::npos) << taken.out;
  EXPECT_EQ(ReadWholeFile(install_ + "/" + installed_readme()), "leia-me");
}

// The updater itself refuses the redirect from https to http (WinINet follows none on its
// own here), so the manifest is never asked for in clear text.
TEST_F(WindowsEndToEnd, AManifestOverHttpsIsNeverFetchedInClearText) {
  const kalo::test::TestAuthority authority;
  const WineTrustedRoot trusted(authority, work_);
  const auto secure = authority.MakeServer();
  const std::string path(cImpLicencas::kManifestPath);
  secure->SetFault(path, kalo::test::Fault::kRedirect, server_.BaseAddress() + path + "?id=acme");
  std::string base = secure->BaseAddress();
  base.replace(base.find("127.0.0.1"), 9, "localhost");
  const auto run = kalo::test::RunProgramThroughPipe(
      {kWine, KALO_WIN64_UPDATER, "--unattended", "--server", base, "--client", "acme"},
      Environment(), work_ / "err.txt", 60s);
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find("redirecionou a transferência de https para " + server_.BaseAddress()),
            std::string::npos)
      << run.err;
  EXPECT_EQ(secure->ManifestRequests(), std::vector<std::string>{"acme"});
  EXPECT_TRUE(server_.ManifestRequests().empty());
}

// CNG under wine imports a point off the curve without a word: what stops this updater
// is its own check of its built-in key, before anything else.
TEST_F(WindowsEndToEnd, AKeyOffTheCurveStopsTheUpdaterAtOnce) {
  const auto run = kalo::test::RunProgramThroughPipe(
      Command({"--unattended", "--client", "acme"}, KALO_WIN64_BAD_KEY_UPDATER), Environment(),
      work_ / "err.txt", 60s);
  EXPECT_EQ(run.exit_status, 2) << run.err;
  EXPECT_NE(run.err.find("não é válida: não é um ponto da curva P-256"), std::string::npos)
      << run.err;
  EXPECT_TRUE(server_.ManifestRequests().empty());
}

// Wine reads the Linux command line in the locale's encoding: in a UTF-8 locale the
// updater is given the name as typed, while its ANSI code page (1252) would carry "ã" as
// one byte that is no UTF-8. The name is asked for, kept for the next run and refused
// as typed (in small letters, as every name is kept).
TEST_F(WindowsEndToEnd, AccentedClientNamesAreTakenAsTyped) {
  std::vector<std::string> environment = Environment();
  environment.push_back("LC_ALL=C.UTF-8");
  const std::string manifest_target =
      std::string(cImpLicencas::kManifestPath) + "?id=constru%C3%A7%C3%B5es%20s%C3%A3o%20jos%C3%A9";
  for (const auto& arguments :
       {std::vector<std::string>{"--client", "Construções São José"}, std::vector<std::string>{}}) {
    std::vector<std::string> command = Command({"--unattended"});
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto run =
        kalo::test::RunProgramThroughPipe(command, environment, work_ / "err.txt", 60s);
    // This server has no manifest for the name.
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_EQ(server_.RequestTargets().back(), manifest_target);
  }
  const auto refused = kalo::test::RunProgramThroughPipe(
      Command({"--unattended", "--client", "José/ação"}), environment, work_ / "err.txt", 60s);
  EXPECT_EQ(refused.exit_status, 2) << refused.err;
  EXPECT_NE(refused.err.find("nome longo demais): josé/ação"), std::string::npos) << refused.err;
}

TEST_F(WindowsEndToEnd, TypeTheNamePressEnterAndTheProductStarts) {
  // Wine shows every window on the display its server started with (scripts/wine-session
  // gives it one), whatever the program's own environment says.
  const char* session_display = std::getenv("DISPLAY");
  if (session_display == nullptr || !kalo::test::VirtualDisplay::ToolsPresent()) {
    GTEST_SKIP() << "no display for wine (run under scripts/wine-session), or xdotool or "
                    "ImageMagick's import is missing";
  }
  display_.Adopt(session_display);
  kalo::test::TypeTheNamePressEnterAndTheProductStarts(
      *this, server_, install_, std::string(KALO_TEST_ARTIFACT_DIR) + "/kalo_upd_windows.png",
      updater_);
}

}  // namespace
