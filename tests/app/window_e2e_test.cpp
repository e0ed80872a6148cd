// The real window on a virtual display: a user types the client name, presses Enter,
// and the product is updated and started; closing the window during a download
// leaves the install folder as it was. Skipped when Xvfb or xdotool is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
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

// Last, because Xlib defines macros such as Bool and None.
#include <X11/Xlib.h>

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool HasProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The output of a shell command.
std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) {
      text.append(buffer, read);
    }
    ::pclose(pipe);
  }
  return text;
}

// The names in `folder`.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Asks `window` to close as a window manager does for the close box. xdotool's
// windowclose destroys the window instead, which the program never sees as a close.
bool RequestClose(const std::string& display, const std::string& window) {
  ::Display* connection = XOpenDisplay(display.c_str());
  if (connection == nullptr) {
    return false;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = std::stoul(window);
  event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(connection, event.xclient.window, False, NoEventMask, &event) != 0;
  // Closing the connection flushes the event to the server.
  XCloseDisplay(connection);
  return sent;
}

class WindowEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    if (!HasProgram("Xvfb") || !HasProgram("xdotool") || !HasProgram("import")) {
      GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is not installed";
    }
    for (int number = 90 + ::getpid() % 50; number < 200; ++number) {
      if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) &&
          !fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
        display_ = ":" + std::to_string(number);
        break;
      }
    }
    xvfb_ = kalo::test::StartProgram(
        {"Xvfb", display_, "-screen", "0", "800x600x24", "-nolisten", "tcp"}, {});
    ASSERT_GT(xvfb_, 0);
    ASSERT_TRUE(kalo::test::WaitFor(
        [&] { return fs::exists("/tmp/.X11-unix/X" + display_.substr(1)); }, 10s));
  }

  void TearDown() override {
    for (pid_t id : {updater_, xvfb_}) {
      if (id > 0) {
        ::kill(id, SIGKILL);
        ::waitpid(id, nullptr, 0);
      }
    }
    kalo::test::EndStartedProgram(install_ + "/acme.exe");
  }

  std::string Xdotool(const std::string& arguments) {
    return Output("DISPLAY=" + display_ + " timeout 10 xdotool " + arguments + " 2>/dev/null");
  }

  // Starts the updater's window with `arguments` and answers its window id, or the
  // empty text when no window appeared.
  std::string StartWindow(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {KALO_UPD_PROGRAM, "--server", server_.BaseAddress()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    updater_ = kalo::test::StartProgram(command, {"DISPLAY=" + display_, "KALO_DIR=" + install_,
                                                  "XDG_CONFIG_HOME=" + work_ / "config"});
    if (updater_ <= 0) {
      return {};
    }
    const std::string window = Xdotool("search --sync --onlyvisible --name 'KALO - Atualizador'");
    return window.substr(0, window.find('\n'));
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  const std::string install_ = work_ / "KALO";
  std::string display_;
  pid_t xvfb_ = -1;
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
  Xdotool("windowfocus --sync " + id);
  Xdotool("type --window " + id + " --delay 30 acme");
  Xdotool("key --window " + id + " Return");

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
  const std::string artifacts = std::string(KALO_TEST_ARTIFACT_DIR);
  fs::create_directories(artifacts);
  const std::string picture = artifacts + "/kalo_upd_window.png";
  std::system(("import -display " + display_ + " -window root '" + picture + "'").c_str());
  EXPECT_GT(fs::exists(picture) ? fs::file_size(picture) : 0u, 1000u);

  // The announcement box waits for OK; then the product starts and the updater ends.
  EXPECT_TRUE(kalo::test::WaitFor(
      [&] {
        for (const auto& box : {Xdotool("search --onlyvisible --name 'KALO'")}) {
          std::size_t start = 0;
          for (auto end = box.find('\n'); end != std::string::npos; end = box.find('\n', start)) {
            Xdotool("key --window " + box.substr(start, end - start) + " Return");
            start = end + 1;
          }
        }
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
  Xdotool("windowfocus --sync " + id);
  Xdotool("key --window " + id + " Return");

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

  ASSERT_TRUE(RequestClose(display_, id));
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
