// A virtual X display (Xvfb) for end-to-end tests of a real window, driven with
// xdotool and photographed with ImageMagick's import. Linux only.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "helpers/posix/program_run.h"

// Last, because Xlib defines macros such as Bool and None.
#include <X11/Xlib.h>

namespace kalo::test {

inline bool HasProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The output of a shell command.
inline std::string CommandOutput(const std::string& command) {
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

class VirtualDisplay {
 public:
  // Whether the tools are installed; a test without them is skipped.
  static bool ToolsPresent() {
    return HasProgram("Xvfb") && HasProgram("xdotool") && HasProgram("import");
  }

  // Drives the display `name` that someone else runs instead of starting one.
  void Adopt(const std::string& name) { name_ = name; }

  // Starts Xvfb on a free display number; false when it did not come up.
  bool Start() {
    namespace fs = std::filesystem;
    for (int number = 90 + ::getpid() % 50; number < 200 && name_.empty(); ++number) {
      if (!DisplayInUse(number)) {
        name_ = ":" + std::to_string(number);
      }
    }
    if (name_.empty()) {
      return false;
    }
    server_ = StartProgram({"Xvfb", name_, "-screen", "0", "800x600x24", "-nolisten", "tcp"}, {});
    return server_ > 0 && WaitFor([&] { return fs::exists("/tmp/.X11-unix/X" + name_.substr(1)); },
                                  std::chrono::seconds(10));
  }

  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  // Asked to end, the server removes its lock file and socket; killed, it leaves them
  // behind.
  ~VirtualDisplay() {
    if (server_ > 0) {
      ::kill(server_, SIGTERM);
      if (!WaitFor([&] { return ::waitpid(server_, nullptr, WNOHANG) == server_; },
                   std::chrono::seconds(5))) {
        ::kill(server_, SIGKILL);
        ::waitpid(server_, nullptr, 0);
      }
    }
  }

  // ":N", for DISPLAY.
  const std::string& Name() const { return name_; }

  std::string Xdotool(const std::string& arguments) const {
    return CommandOutput("DISPLAY=" + name_ + " timeout 10 xdotool " + arguments + " 2>/dev/null");
  }

  // The first visible window whose title matches `title`, waiting for one to appear;
  // the empty text when none did.
  std::string FindWindow(const std::string& title) const {
    const std::string found = Xdotool("search --sync --onlyvisible --name '" + title + "'");
    return found.substr(0, found.find('\n'));
  }

  // Presses Enter in every visible window whose title matches `title`: the OK of the
  // message boxes that wait for one.
  void PressEnterInWindows(const std::string& title) const {
    const std::string windows = Xdotool("search --onlyvisible --name '" + title + "'");
    std::size_t start = 0;
    for (auto end = windows.find('\n'); end != std::string::npos; end = windows.find('\n', start)) {
      Xdotool("key --window " + windows.substr(start, end - start) + " Return");
      start = end + 1;
    }
  }

  // A picture of the whole screen in `path`; false when none was written.
  bool Photograph(const std::string& path) const {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::system(("import -display " + name_ + " -window root '" + path + "'").c_str());
    std::error_code error;
    return std::filesystem::file_size(path, error) > 1000;
  }

  // Asks `window` to close as a window manager does for the close box. xdotool's
  // windowclose destroys the window instead, which the program never sees as a close.
  bool RequestClose(const std::string& window) const {
    ::Display* connection = XOpenDisplay(name_.c_str());
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

 private:
  // A display number is in use while its lock file names a running server. A server
  // that was killed leaves its lock behind, and a new server takes such a number over.
  static bool DisplayInUse(int number) {
    std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
    pid_t owner = 0;
    if (!(lock >> owner)) {
      return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number));
    }
    return ::kill(owner, 0) == 0 || errno == EPERM;
  }

  std::string name_;
  pid_t server_ = -1;
};

}  // namespace kalo::test
