#include "app/console.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <thread>

#include "platform/plain_text.h"
#include "platform/processes.h"
#include "platform/shortened_text.h"

namespace kalo::app {
namespace {

using platform::MessageAnswer;
using platform::MessageStyle;

void PrintLine(std::ostream& stream, const std::string& text) {
  stream << platform::ShortenedLines(text) << std::endl;
}

// "512 B", "12,5 MiB": binary units with one decimal past the bytes, the decimal comma
// as the other texts write numbers.
std::string SizeText(std::uint64_t bytes) {
  constexpr std::array<const char*, 4> kUnits = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + " B";
  }
  // The smallest unit that keeps the value under 1024 once rounded to tenths.
  std::uint64_t unit = 1024;
  std::size_t index = 0;
  while (index + 1 < kUnits.size() && bytes >= unit * 1024 - unit / 20) {
    unit *= 1024;
    ++index;
  }
  const std::uint64_t tenths = bytes / unit * 10 + (bytes % unit * 10 + unit / 2) / unit;
  return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " " + kUnits[index];
}

}  // namespace

std::string ProgressText(std::uint64_t bytes, std::optional<std::uint64_t> total,
                         std::uint64_t bytes_per_second) {
  std::string text = "  " + SizeText(bytes);
  if (total) {
    const std::uint64_t percent =
        *total == 0 ? 100 : std::min<std::uint64_t>(bytes, *total) * 100 / *total;
    text += " de " + SizeText(*total) + " (" + std::to_string(percent) + " %)";
  }
  return text + ", " + SizeText(bytes_per_second) + "/s";
}

void ConsoleProgress::Show(const platform::TransferProgress& progress) {
  if (!terminal_) {
    return;
  }
  latest_bytes_ = progress.bytes;
  latest_total_ = progress.total;
  if (progress.phase != platform::TransferPhase::kReceiving) {
    EndLine();
    // The next attempt or transfer measures its own rate.
    start_.reset();
    return;
  }
  const platform::Clock::TimePoint now = clock_.Now();
  if (!start_) {
    // The first line comes after a second of bytes, with a rate to show; a transfer
    // that ends sooner shows none.
    start_ = written_ = now;
    start_bytes_ = written_bytes_ = progress.bytes;
  } else if (now - written_ >= std::chrono::seconds(1)) {
    Write(now);
  }
}

void ConsoleProgress::EndLine() {
  if (!open_) {
    return;
  }
  // The line ends on the latest count, not on that of up to a second before.
  if (latest_bytes_ != written_bytes_) {
    Write(clock_.Now());
  }
  out_ << std::endl;
  open_ = false;
}

void ConsoleProgress::Write(platform::Clock::TimePoint now) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *start_);
  const std::uint64_t rate = elapsed.count() > 0 ? (latest_bytes_ - start_bytes_) * 1000 /
                                                       static_cast<std::uint64_t>(elapsed.count())
                                                 : 0;
  const std::string text = ProgressText(latest_bytes_, latest_total_, rate);
  out_ << '\r' << text;
  if (open_ && text.size() < written_width_) {
    out_ << std::string(written_width_ - text.size(), ' ');
  }
  out_ << std::flush;
  written_width_ = text.size();
  written_ = now;
  written_bytes_ = latest_bytes_;
  open_ = true;
}

MessageAnswer ConsoleUi::ShowMessage(const std::string& text, MessageStyle style,
                                     const std::string& title) {
  progress_.EndLine();
  if (!title.empty()) {
    messages_ << title << ": ";
  }
  // Message texts break lines with CR LF, as the window shows them; a terminal wants LF.
  messages_ << platform::ShortenedLines(platform::WithLineFeeds(text));
  MessageAnswer answer = MessageAnswer::kOk;
  if (style == MessageStyle::kQuestionYesNo) {
    answer = yes_ ? MessageAnswer::kYes : MessageAnswer::kNo;
  } else if (style == MessageStyle::kExclamationYesNoCancel) {
    answer = yes_ ? MessageAnswer::kYes : MessageAnswer::kCancel;
  }
  if (answer == MessageAnswer::kYes) {
    messages_ << " [Sim]";
  } else if (answer != MessageAnswer::kOk) {
    messages_ << " [Não]";
  }
  messages_ << std::endl;
  return answer;
}

std::string ConsoleUi::AskText(const std::string& prompt, const std::string&) {
  progress_.EndLine();
  messages_ << prompt << " [sem resposta]" << std::endl;
  return {};
}

void ConsoleUi::WaitForMessages(std::chrono::milliseconds timeout) {
  // No window to serve: the wait is just time passing.
  std::this_thread::sleep_for(timeout);
}

void ConsoleUi::End(int exit_status) {
  platform::EndOwnProcess(exit_status);
}

void ConsoleView::SetLabel(platform::WindowLabel label, const std::string& text) {
  if (text.empty()) {
    return;
  }
  if (label == platform::WindowLabel::kDisplay1 && text != last_line1_) {
    last_line1_ = text;
  } else if (label != platform::WindowLabel::kDisplay2) {
    return;
  }
  progress_.EndLine();
  PrintLine(lines_, text);
}

void ConsoleRunLog::FileReplaced(const std::string& file_name) {
  ++changed_;
  Print("Baixado: " + file_name);
}

void ConsoleRunLog::FileUnpacked(const std::string& file_name) {
  ++changed_;
  Print("Descompactado: " + file_name);
}

void ConsoleRunLog::Summarise() {
  if (!nothing_listed_at_.empty()) {
    Print("A lista de arquivos de " + nothing_listed_at_ +
          " não traz arquivos: nada foi verificado nem baixado.");
  } else if (changed_ == 0) {
    Print("Tudo atualizado: nada foi baixado.");
  } else {
    Print("Atualização concluída: " + std::to_string(changed_) +
          " arquivo(s) baixado(s) ou descompactado(s).");
  }
}

void ConsoleRunLog::EntrySkipped(const std::string& line) {
  Print("Ignorada (nome de arquivo fora da pasta): " + line);
}

void ConsoleRunLog::NothingListed(const std::string& address) {
  nothing_listed_at_ = address;
}

void ConsoleRunLog::Warned(const std::string& text) {
  Print("Aviso: " + text);
}

void ConsoleRunLog::Print(const std::string& text) {
  progress_.EndLine();
  PrintLine(log_, text);
}

}  // namespace kalo::app
