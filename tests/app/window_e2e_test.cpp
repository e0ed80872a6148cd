// The real window on a virtual display: a user types the client name, presses Enter,
// and the product is updated and started; closing the window during a download
// leaves the install folder as it was. Skipped when Xvfb or xdotool is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "helpers/acme_release.h"
#include "helpers/install_folder.h"
#include "helpers/posix/program_run.h"
#include "helpers/posix/virtual_display.h"
#include "helpers/posix/window_scenario.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The names in `folder`.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class WindowEndToEnd : public testing::Test, public kalo::test::WindowDriver {
 protected:
  void SetUp() override {
    if (!kalo::test::VirtualDisplay::ToolsPresent()) {
      GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is not installed";
    }
    ASSERT_TRUE(display_.Start());
  }

  void TearDown() override {
    if (updater_ > 0) {
      ::kill(updater_, SIGKILL);
      ::waitpid(updater_, nullptr, 0);
    }
    kalo::test::EndStartedProgram(install_ + "/acme.exe");
  }

  const kalo::test::VirtualDisplay& Display() const override { return display_; }

  pid_t StartUpdater() override { return Start({}); }

  void EnterName(const std::string& window, const std::string& name) override {
    display_.Xdotool("windowfocus --sync " + window);
    display_.Xdotool("type --window " + window + " --delay 30 " + name);
    display_.Xdotool("key --window " + window + " Return");
  }

  void ExpectHandedOver() const override {
    EXPECT_EQ(ReadWholeFile(install_ + "/acme.exe"), ReadWholeFile(KALO_TEST_PROGRAM));
    EXPECT_EQ(ReadWholeFile(work_ / "config/KALO/settings.ini"), "[config]\ncliente=acme\n");
  }

  // Starts the updater's window with `arguments` and answers its window id, or the
  // empty text when no window appeared.
  std::string StartWindow(const std::vector<std::string>& arguments) {
    updater_ = Start(arguments);
    return updater_ > 0 ? display_.FindWindow("KALO - Atualizador") : std::string();
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "KALO";
  kalo::test::VirtualDisplay display_;
  pid_t updater_ = -1;

 private:
  pid_t Start(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command = {KALO_UPD_PROGRAM, "--server", server_.BaseAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return kalo::test::StartProgram(command, {"DISPLAY=" + display_.Name(), "KALO_DIR=" + install_,
                                              "XDG_CONFIG_HOME=" + work_ / "config"});
  }
};

TEST_F(WindowEndToEnd, TypeTheNamePressEnterAndTheProductStarts) {
  fs::create_directory(install_);
  kalo::test::InstallArchiveLibraries(install_);
  kalo::test::ServeAcmeRelease(server_, work_, ReadWholeFile(KALO_TEST_PROGRAM));
  kalo::test::TypeTheNamePressEnterAndTheProductStarts(
      *this, server_, install_, std::string(KALO_TEST_ARTIFACT_DIR) + "/kalo_upd_window.png",
      updater_);
}

// A windowed program may have no console: a stored server address it refuses is said in
// a message box before it ends.
TEST_F(WindowEndToEnd, AStoredServerAddressItRefusesIsSaidInAMessageBox) {
  fs::create_directory(install_);
  fs::create_directories(work_ / "config/KALO");
  work_.Write("config/KALO/settings.ini",
              "[config]\nservidor=" + server_.BaseAddress() + "/\tX-Evil: 1\n");
  updater_ = kalo::test::StartProgram({KALO_UPD_PROGRAM},
                                      {"DISPLAY=" + display_.Name(), "KALO_DIR=" + install_,
                                       "XDG_CONFIG_HOME=" + work_ / "config"});
  ASSERT_FALSE(display_.FindWindow("kalo_upd").empty()) << "no message box appeared";
  int status = -1;
  EXPECT_TRUE(kalo::test::WaitFor(
      [&] {
        display_.PressEnterInWindows("kalo_upd");
        return ::waitpid(updater_, &status, WNOHANG) == updater_;
      },
      10s));
  updater_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(server_.RequestTargets().empty());
}

TEST_F(WindowEndToEnd, ClosingTheWindowDuringADownloadLeavesTheInstallFolderAsItWas) {
  const std::string name = "logo-jpg-201811211540.jpg";
  fs::create_directory(install_);
  kalo::test::InstallArchiveLibraries(install_);
  work_.Write("KALO/" + name, "old content");
  const std::set<std::string> before = Names(install_);
  // Half the new file arrives, then nothing: the run stays inside the download.
  const std::string content(200000, 'n');
  server_.SetFile(name, content);
  server_.SetFault("/trabalho/versao/" + name, kalo::test::Fault::kStallMidBody);
  server_.SetManifest(
      "acme", "licenca_\r\n" + name + "|" + std::to_string(content.size()) + "\r\n_licenca");

  const std::string id = StartWindow({"--client", "acme"});
  ASSERT_FALSE(id.empty()) << "the window did not appear";
  display_.Xdotool("windowfocus --sync " + id);
  display_.Xdotool("key --window " + id + " Return");

  // The old file is set aside and the new one half written: the state to be undone.
  const std::string aside = install_ + "/.kalo_upd/" + name;
  const auto downloading = [&] {
    return kalo::test::HoldsKeptDownload(install_) && fs::exists(aside);
  };
  ASSERT_TRUE(kalo::test::WaitFor(downloading, 10s)) << "the download did not start";
  ASSERT_FALSE(fs::exists(install_ + "/" + name));
  ASSERT_TRUE(fs::exists(install_ + "/.kalo_upd/record"));

  ASSERT_TRUE(display_.RequestClose(id));
  int status = -1;
  ASSERT_TRUE(
      kalo::test::WaitFor([&] { return ::waitpid(updater_, &status, WNOHANG) == updater_; }, 10s))
      << "the updater did not end when its window was asked to close";
  updater_ = -1;
  // Closed while busy: the run ended unfinished.
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);

  EXPECT_EQ(ReadWholeFile(install_ + "/" + name), "old content");
  // Only the hidden folder is new, and it keeps nothing but the lock and the run log,
  // which tells how the run ended.
  std::set<std::string> expected = before;
  expected.insert(".kalo_upd");
  EXPECT_EQ(Names(install_), expected);
  EXPECT_EQ(Names(install_ + "/.kalo_upd"), (std::set<std::string>{"lock", "kalo_upd.log"}));
  const std::string log = ReadWholeFile(install_ + "/.kalo_upd/kalo_upd.log");
  EXPECT_NE(log.find(" modo=janela"), std::string::npos) << log;
  EXPECT_NE(log.find(" recuperação ação=reposto arquivo=" + name), std::string::npos) << log;
  EXPECT_TRUE(log.ends_with(" fim resultado=encerrada saída=1\n")) << log;
}

}  // namespace
