// The system's message box, answering as the form's message boxes do.
#pragma once

#include <windows.h>

#include <string>

#include "platform/ui.h"

namespace kalo::platform {

// The box's icon and buttons for `style`.
UINT MessageBoxFlags(MessageStyle style);

// What closing a box of `style` with `button` (IDYES ...) answers.
MessageAnswer AnswerOf(MessageStyle style, int button);

// Shows `text` (shortened when too long) over `owner` until the user closes the box.
MessageAnswer ShowMessageBox(HWND owner, const std::string& text, MessageStyle style,
                             const std::string& title);

}  // namespace kalo::platform
