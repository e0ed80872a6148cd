// What a user does with the updater's window and what must follow, written once for both
// windows: the FLTK one of the Linux updater and the Win32 one of the Windows updater
// under wine. Each end-to-end test drives its own window through a WindowDriver.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "helpers/posix/virtual_display.h"
#include "helpers/test_server.h"
#include "helpers/wait_for.h"

namespace kalo::test {

class WindowDriver {
 public:
  virtual ~WindowDriver() = default;
  // The display the window appears on.
  virtual const VirtualDisplay& Display() const = 0;
  // Starts the updater without arguments: its process, or -1.
  virtual pid_t StartUpdater() = 0;
  // Puts `name` into the name box of `window`, in place of what it shows, and presses Enter.
  virtual void EnterName(const std::string& window, const std::string& name) = 0;
  // Checks what this updater leaves besides the started product.
  virtual void ExpectHandedOver() const = 0;
};

// The user types the client name "acme" and presses Enter; the release that `server`
// serves for it (ServeAcmeRelease) is installed into `install`, the announcement box is
// answered, the product starts and the updater ends well. A picture of the busy window
// goes to `picture`. `updater` holds the updater's process while it runs, for the
// test's tear-down.
inline void TypeTheNamePressEnterAndTheProductStarts(WindowDriver& driver, TestServer& server,
                                                     const std::string& install,
                                                     const std::string& picture, pid_t& updater) {
  using namespace std::chrono_literals;
  // A slow archive keeps the window busy long enough to be photographed.
  server.SetFault("/trabalho/versao/acme-exe-201811211540.zip", Fault::kSlowBody);
  server.SetSlowPause(250ms);
  updater = driver.StartUpdater();
  ASSERT_GT(updater, 0);
  const std::string id = driver.Display().FindWindow("KALO - Atualizador");
  ASSERT_FALSE(id.empty()) << "the window did not appear";
  driver.EnterName(id, "acme");

  // While the archive trickles in, keep a picture of the busy window.
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto targets = server.RequestTargets();
        return std::any_of(targets.begin(), targets.end(), [](const std::string& target) {
          return target.find("acme-exe") != std::string::npos;
        });
      },
      20s))
      << "the archive was not asked for";
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(driver.Display().Photograph(picture));

  // The announcement box waits for OK; then the product starts and the updater ends.
  EXPECT_TRUE(WaitFor(
      [&] {
        driver.Display().PressEnterInWindows("KALO");
        return std::filesystem::exists(install + "/acme.exe.started");
      },
      30s))
      << "the product was not started";
  driver.ExpectHandedOver();
  int status = -1;
  ASSERT_TRUE(WaitFor([&] { return ::waitpid(updater, &status, WNOHANG) == updater; }, 10s));
  updater = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace kalo::test
