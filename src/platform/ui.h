// What the routines below the window need from the user interface: modal boxes, the
// message pump and the immediate end of the program. The window, the console of the
// unattended mode and the tests' fake each provide it.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

namespace kalo::platform {

// Style values of a message box: icon plus buttons, as the system's messages name them.
enum class MessageStyle : int {
  kError = 16,                   // error icon, OK
  kQuestionYesNo = 36,           // question icon, Yes and No
  kExclamationYesNoCancel = 51,  // exclamation icon, Yes, No and Cancel
  kInformation = 64,             // information icon, OK
};

// The button that closed a message box.
enum class MessageAnswer : int { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

class Ui {
 public:
  virtual ~Ui() = default;

  // Shows a modal box; an empty title means the application's title.
  virtual MessageAnswer ShowMessage(const std::string& text, MessageStyle style,
                                    const std::string& title = {}) = 0;

  // Asks for one line of text; a cancelled box answers the empty text.
  virtual std::string AskText(const std::string& prompt, const std::string& title) = 0;

  // Processes the messages that are waiting, without blocking.
  virtual void ProcessPendingMessages() = 0;

  // Blocks until a message arrives or the time-out passes, then processes what came.
  virtual void WaitForMessages(std::chrono::milliseconds timeout) = 0;

  // Ends the program at once with the given exit status; none of the window's
  // closing steps run, only the clean-up set below.
  [[noreturn]] void EndProgram(int exit_status) {
    if (const auto cleanup = std::exchange(cleanup_before_end_, {})) {
      cleanup(exit_status);
    }
    End(exit_status);
    // Every realisation ends the program or throws; reaching this line is a bug.
    std::abort();
  }

  // Work that must be done however the program ends at once (an update run puts the
  // files it set aside back and logs its end), told the exit status; empty for none. It
  // must not throw.
  void SetCleanupBeforeEnd(std::function<void(int exit_status)> cleanup) {
    cleanup_before_end_ = std::move(cleanup);
  }

 private:
  virtual void End(int exit_status) = 0;

  std::function<void(int exit_status)> cleanup_before_end_;
};

}  // namespace kalo::platform
