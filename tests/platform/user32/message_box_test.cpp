// What each way of closing a message box answers, by its style.
#include "platform/user32/message_box.h"

#include <gtest/gtest.h>

namespace {

using kalo::platform::AnswerOf;
using kalo::platform::MessageAnswer;
using kalo::platform::MessageBoxFlags;
using kalo::platform::MessageStyle;

TEST(Win32MessageBox, EachStyleHasItsButtonsAndAnswers) {
  const struct {
    MessageStyle style;
    UINT flags;
    int button;
    MessageAnswer answer;
  } cases[] = {
      {MessageStyle::kInformation, MB_ICONINFORMATION | MB_OK, IDOK, MessageAnswer::kOk},
      // Escape on a box with OK alone: wine answers Cancel, the box means OK.
      {MessageStyle::kError, MB_ICONERROR | MB_OK, IDCANCEL, MessageAnswer::kOk},
      {MessageStyle::kQuestionYesNo, MB_ICONQUESTION | MB_YESNO, IDNO, MessageAnswer::kNo},
      {MessageStyle::kQuestionYesNo, MB_ICONQUESTION | MB_YESNO, IDYES, MessageAnswer::kYes},
      {MessageStyle::kExclamationYesNoCancel, MB_ICONEXCLAMATION | MB_YESNOCANCEL, IDCANCEL,
       MessageAnswer::kCancel},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(static_cast<int>(row.style));
    EXPECT_EQ(MessageBoxFlags(row.style), row.flags);
    EXPECT_EQ(AnswerOf(row.style, row.button), row.answer);
  }
}

}  // namespace
