#include "app/console.h"

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

}  // namespace

MessageAnswer ConsoleUi::ShowMessage(const std::string& text, MessageStyle style,
                                     const std::string& title) {
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
    PrintLine(progress_, text);
  } else if (label == platform::WindowLabel::kDisplay2) {
    PrintLine(progress_, text);
  }
}

void ConsoleRunLog::FileReplaced(const std::string& file_name) {
  ++changed_;
  PrintLine(log_, "Baixado: " + file_name);
}

void ConsoleRunLog::FileUnpacked(const std::string& file_name) {
  ++changed_;
  PrintLine(log_, "Descompactado: " + file_name);
}

void ConsoleRunLog::Summarise() {
  if (!nothing_listed_at_.empty()) {
    PrintLine(log_, "A lista de arquivos de " + nothing_listed_at_ +
                        " não traz arquivos: nada foi verificado nem baixado.");
  } else if (changed_ == 0) {
    log_ << "Tudo atualizado: nada foi baixado." << std::endl;
  } else {
    log_ << "Atualização concluída: " << changed_ << " arquivo(s) baixado(s) ou descompactado(s)."
         << std::endl;
  }
}

void ConsoleRunLog::EntrySkipped(const std::string& line) {
  PrintLine(log_, "Ignorada (nome de arquivo fora da pasta): " + line);
}

void ConsoleRunLog::NothingListed(const std::string& address) {
  nothing_listed_at_ = address;
}

void ConsoleRunLog::Warned(const std::string& text) {
  PrintLine(log_, "Aviso: " + text);
}

}  // namespace kalo::app
