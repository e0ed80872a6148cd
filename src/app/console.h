// The unattended mode's realisation of the window: message boxes go to standard
// error, status lines, the run's log and a transfer's progress to standard output, and
// nobody answers but the command line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/internet_transfer_interface.h"
#include "platform/ui.h"
#include "platform/window_view.h"
#include "update/update_run.h"

namespace kalo::app {

// "  12,5 MiB de 200,0 MiB (6 %), 10,2 MiB/s"; without a total, bytes and rate alone.
std::string ProgressText(std::uint64_t bytes, std::optional<std::uint64_t> total,
                         std::uint64_t bytes_per_second);

// A transfer's progress as one line that rewrites itself at most once a second, for a
// person at a terminal; nothing when the output goes to a pipe or a file, whose readers
// want the status lines alone. Every other console line ends it first.
class ConsoleProgress {
 public:
  ConsoleProgress(std::ostream& out, const platform::Clock& clock, bool terminal)
      : out_(out), clock_(clock), terminal_(terminal) {}

  void Show(const platform::TransferProgress& progress);
  // Ends an open progress line, so that what follows starts on a line of its own.
  void EndLine();

 private:
  // Writes the latest count over the open line, or starts one.
  void Write(platform::Clock::TimePoint now);

  std::ostream& out_;
  const platform::Clock& clock_;
  const bool terminal_;
  // Where the measure of the rate began: the first bytes of this attempt.
  std::optional<platform::Clock::TimePoint> start_;
  std::uint64_t start_bytes_ = 0;
  std::uint64_t latest_bytes_ = 0;
  std::optional<std::uint64_t> latest_total_;
  platform::Clock::TimePoint written_{};
  std::uint64_t written_bytes_ = 0;
  std::size_t written_width_ = 0;  // of the open line, to blank what a shorter one leaves
  bool open_ = false;
};

class ConsoleUi : public platform::Ui {
 public:
  // `answer_yes`: questions are answered Yes; otherwise No (Cancel for the overwrite box).
  ConsoleUi(std::ostream& messages, bool answer_yes, ConsoleProgress& progress)
      : messages_(messages), yes_(answer_yes), progress_(progress) {}

  platform::MessageAnswer ShowMessage(const std::string& text, platform::MessageStyle style,
                                      const std::string& title) override;
  std::string AskText(const std::string& prompt, const std::string& title) override;
  void ProcessPendingMessages() override {}
  void WaitForMessages(std::chrono::milliseconds timeout) override;

 private:
  void End(int exit_status) override;

  std::ostream& messages_;
  bool yes_;
  ConsoleProgress& progress_;
};

// The status lines as progress lines: each new text of lines 1 and 2 is printed.
class ConsoleView : public platform::WindowView {
 public:
  ConsoleView(std::ostream& lines, ConsoleProgress& progress)
      : lines_(lines), progress_(progress) {}

  void SetTitle(const std::string&) override {}
  std::string ClientText() const override { return client_; }
  void SetClientText(const std::string& text) override { client_ = text; }
  void SetLabel(platform::WindowLabel label, const std::string& text) override;
  void RepaintLabel(platform::WindowLabel) override {}
  void SetInputEnabled(bool) override {}
  void SetTimerEnabled(bool) override {}
  void FocusClientText() override {}

 private:
  std::ostream& lines_;
  ConsoleProgress& progress_;
  std::string client_;
  std::string last_line1_;
};

// One line per replaced, unpacked or skipped file.
class ConsoleRunLog : public cImpLicencas::RunObserver {
 public:
  ConsoleRunLog(std::ostream& log, ConsoleProgress& progress) : log_(log), progress_(progress) {}
  void FileReplaced(const std::string& file_name) override;
  void FileUnpacked(const std::string& file_name) override;
  void EntrySkipped(const std::string& line) override;
  void Warned(const std::string& text) override;
  void NothingListed(const std::string& address) override;
  // The last line of a run that returned.
  void Summarise();

 private:
  // Prints `text` shortened, on a line of its own.
  void Print(const std::string& text);

  std::ostream& log_;
  ConsoleProgress& progress_;
  int changed_ = 0;
  std::string nothing_listed_at_;
};

}  // namespace kalo::app
