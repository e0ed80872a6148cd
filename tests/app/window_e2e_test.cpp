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
#include <thread>
#include <vector>

#include "helpers/archive_builder.h"
#include "helpers/install_folder.h"
#include "helpers/program_run.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "helpers/virtual_display.h"

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

class WindowEndToEnd : public testing::Test {
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

  // Starts the updater's window with `arguments` and answers its window id, or the
  // empty text when no window appeared.
  std::string StartWindow(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {KALO_UPD_PROGRAM, "--server", server_.BaseAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    updater_ =
        kalo::test::StartProgram(command, {"DISPLAY=" + display_.Name(), "KALO_DIR=" + install_,
                                           "XDG_CONFIG_HOME=" + work_ / "config"});
    return updater_ > 0 ? display_.FindWindow("KALO - Atualizador") : std::string();
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "KALO";
  kalo::test::VirtualDisplay display_;
  pid_t updater_ = -1;
};

TEST_F(WindowEndToEnd, TypeTheNamePressEnterAndTheProductStarts) {
  fs::create_directory(install_);
  kalo::test::InstallArchiveLibraries(install_);
  kalo::test::ArchiveBuilder()
      .AddFile("acme.exe", ReadWholeFile(KALO_TEST_PROGRAM), kalo::test::EntryOptions().Mode(0755))
      .Write(work_ / "archive.zip");
  const std::string archive = ReadWholeFile(work_ / "archive.zip");
  server_.SetFile("acme-exe-201811211540.zip", archive);
  // A slow archive keeps the window busy long enough to be photographed.
  server_.SetFault("/trabalho/versao/acme-exe-201811211540.zip", kalo::test::Fault::kSlowBody);
  server_.SetSlowPause(250ms);
  server_.SetManifest("acme", "licenca_\r\nacme-exe-201811211540.zip|" +
                                  std::to_string(archive.size()) + "\r\n_licenca");

  const std::string id = StartWindow({});
  ASSERT_FALSE(id.empty()) << "the window did not appear";
  display_.Xdotool("windowfocus --sync " + id);
  display_.Xdotool("type --window " + id + " --delay 30 acme");
  display_.Xdotool("key --window " + id + " Return");

  // While the archive trickles in, keep a picture of the busy window.
  ASSERT_TRUE(kalo::test::WaitFor(
      [&] {
        for (const auto& target : server_.RequestTargets()) {
          if (target.find("acme-exe") != std::string::npos) {
            return true;
          }
        }
        return false;
      },
      10s));
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(display_.Photograph(std::string(KALO_TEST_ARTIFACT_DIR) + "/kalo_upd_window.png"));

  // The announcement box waits for OK; then the product starts and the updater ends.
  EXPECT_TRUE(kalo::test::WaitFor(
      [&] {
        display_.PressEnterInWindows("KALO");
        return fs::exists(install_ + "/acme.exe.started");
      },
      20s));
  int status = -1;
  ASSERT_TRUE(
      kalo::test::WaitFor([&] { return ::waitpid(updater_, &status, WNOHANG) == updater_; }, 10s));
  updater_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadWholeFile(work_ / "config/KALO/settings.ini"), "[config]\ncliente=acme\n");
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
    for (const std::string& entry : Names(install_)) {
      if (entry.find(".part-") != std::string::npos) {
        return fs::exists(aside);
      }
    }
    return false;
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
  // Only the hidden folder is new, and it keeps nothing but the lock.
  std::set<std::string> expected = before;
  expected.insert(".kalo_upd");
  EXPECT_EQ(Names(install_), expected);
  EXPECT_EQ(Names(install_ + "/.kalo_upd"), std::set<std::string>{"lock"});
}

}  // namespace
