#include "app/console.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using kalo::platform::MessageAnswer;
using kalo::platform::MessageStyle;

// Nobody answers in the unattended mode but the command line: a question is Yes only
// with --yes, and the overwrite box, whose Yes would replace a file unasked, is
// Cancel without it.
TEST(ConsoleUi, AnswersOnlyWhatTheCommandLineAllows) {
  struct Case {
    MessageStyle style;
    bool yes;
    MessageAnswer answer;
    const char* printed;
  };
  const Case cases[] = {
      {MessageStyle::kQuestionYesNo, false, MessageAnswer::kNo, "Pergunta\nfim? [Não]\n"},
      {MessageStyle::kQuestionYesNo, true, MessageAnswer::kYes, "Pergunta\nfim? [Sim]\n"},
      {MessageStyle::kExclamationYesNoCancel, false, MessageAnswer::kCancel,
       "Pergunta\nfim? [Não]\n"},
      {MessageStyle::kExclamationYesNoCancel, true, MessageAnswer::kYes, "Pergunta\nfim? [Sim]\n"},
      {MessageStyle::kError, true, MessageAnswer::kOk, "Pergunta\nfim?\n"},
      {MessageStyle::kInformation, false, MessageAnswer::kOk, "Pergunta\nfim?\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream messages;
    kalo::app::ConsoleUi console(messages, c.yes);
    EXPECT_EQ(console.ShowMessage("Pergunta\r\nfim?", c.style, {}), c.answer);
    EXPECT_EQ(messages.str(), c.printed);
  }
  std::ostringstream messages;
  EXPECT_EQ(kalo::app::ConsoleUi(messages, true).AskText("Senha?", ""), "");
}

}  // namespace
