// What each way of closing a message box answers, by its style.
#include "platform/user32/message_box.h"

#include <gtest/gtest.h>

namespace {

namespace platform = kalo::platform;
using Answer = platform::MessageAnswer;
using Style = platform::MessageStyle;

TEST(Win32MessageBox, EachStyleHasItsButtonsAndAnswers) {
  const struct {
    Style style;
    UINT flags;
    int button;
    Answer answer;
  } cases[] = {
      {Style::kInformation, MB_ICONINFORMATION | MB_OK, IDOK, Answer::kOk},
      // Escape on a box with OK alone: wine answers Cancel, the box means OK.
      {Style::kError, MB_ICONERROR | MB_OK, IDCANCEL, Answer::kOk},
      {Style::kQuestionYesNo, MB_ICONQUESTION | MB_YESNO, IDNO, Answer::kNo},
      {Style::kQuestionYesNo, MB_ICONQUESTION | MB_YESNO, IDYES, Answer::kYes},
      {Style::kExclamationYesNoCancel, MB_ICONEXCLAMATION | MB_YESNOCANCEL, IDCANCEL,
       Answer::kCancel},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(static_cast<int>(row.style));
    EXPECT_EQ(platform::MessageBoxFlags(row.style), row.flags);
    EXPECT_EQ(platform::AnswerOf(row.style, row.button), row.answer);
  }
}

}  // namespace
