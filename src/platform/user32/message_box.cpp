#include "platform/user32/message_box.h"

#include <utility>

#include "platform/shortened_text.h"
#include "platform/win32/last_error.h"
#include "win32/wide_text.h"

namespace kalo::platform {

UINT MessageBoxFlags(MessageStyle style) {
  switch (style) {
    case MessageStyle::kError:
      return MB_ICONERROR | MB_OK;
    case MessageStyle::kQuestionYesNo:
      return MB_ICONQUESTION | MB_YESNO;
    case MessageStyle::kExclamationYesNoCancel:
      return MB_ICONEXCLAMATION | MB_YESNOCANCEL;
    case MessageStyle::kInformation:
      break;
  }
  return MB_ICONINFORMATION | MB_OK;
}

// Every way of closing a box with OK alone means OK (wine answers Escape there
// with Cancel).
MessageAnswer AnswerOf(MessageStyle style, int button) {
  if ((MessageBoxFlags(style) & MB_TYPEMASK) == MB_OK) {
    return MessageAnswer::kOk;
  }
  constexpr std::pair<int, MessageAnswer> kAnswers[] = {
      {IDYES, MessageAnswer::kYes}, {IDNO, MessageAnswer::kNo}, {IDCANCEL, MessageAnswer::kCancel}};
  for (const auto& [id, answer] : kAnswers) {
    if (button == id) {
      return answer;
    }
  }
  return MessageAnswer::kOk;
}

MessageAnswer ShowMessageBox(HWND owner, const std::string& text, MessageStyle style,
                             const std::string& title) {
  const int button = ::MessageBoxW(owner, win32::Widen(ShortenedLines(text)).c_str(),
                                   win32::Widen(title).c_str(), MessageBoxFlags(style));
  if (button == 0) {
    throw LastSystemError("Não foi possível mostrar a mensagem", "DesktopWindow");
  }
  return AnswerOf(style, button);
}

}  // namespace kalo::platform
