// The unattended mode's realisation of the window: message boxes go to standard
// error, status lines and the run's log to standard output, and nobody answers but
// the command line.
#pragma once

#include <iosfwd>
#include <string>

#include "platform/ui.h"
#include "platform/window_view.h"
#include "update/update_run.h"

namespace kalo::app {

class ConsoleUi : public platform::Ui {
 public:
  // `answer_yes`: questions are answered Yes; otherwise No (Cancel for the overwrite box).
  ConsoleUi(std::ostream& messages, bool answer_yes) : messages_(messages), yes_(answer_yes) {}

  platform::MessageAnswer ShowMessage(const std::string& text, platform::MessageStyle style,
                                      const std::string& title) override;
  std::string AskText(const std::string& prompt, const std::string& title) override;
  void ProcessPendingMessages() override {}
  void WaitForMessages(std::chrono::milliseconds timeout) override;

 private:
  void End(int exit_status) override;

  std::ostream& messages_;
  bool yes_;
};

// The status lines as progress lines: each new text of lines 1 and 2 is printed.
class ConsoleView : public platform::WindowView {
 public:
  explicit ConsoleView(std::ostream& progress) : progress_(progress) {}

  void SetTitle(const std::string&) override {}
  std::string ClientText() const override { return client_; }
  void SetClientText(const std::string& text) override { client_ = text; }
  void SetLabel(platform::WindowLabel label, const std::string& text) override;
  void RepaintLabel(platform::WindowLabel) override {}
  void SetInputEnabled(bool) override {}
  void SetTimerEnabled(bool) override {}
  void FocusClientText() override {}

 private:
  std::ostream& progress_;
  std::string client_;
  std::string last_line1_;
};

// One line per replaced, unpacked or skipped file.
class ConsoleRunLog : public cImpLicencas::RunObserver {
 public:
  explicit ConsoleRunLog(std::ostream& log) : log_(log) {}
  void FileReplaced(const std::string& file_name) override;
  void FileUnpacked(const std::string& file_name) override;
  void EntrySkipped(const std::string& line) override;
  void Warned(const std::string& text) override;
  void NothingListed(const std::string& address) override;
  // The last line of a run that returned.
  void Summarise();

 private:
  std::ostream& log_;
  int changed_ = 0;
  std::string nothing_listed_at_;
};

}  // namespace kalo::app
