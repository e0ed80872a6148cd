// A small input box, built in memory as a dialog template: the prompt with OK and
// Cancel beside it, the answer below, like the system's own input boxes.
#pragma once

#include <windows.h>

#include <string>

namespace kalo::platform {

// Asks over `owner` until the user closes the box; the answer, or the empty text
// when the user cancelled.
std::string AskInputBox(HWND owner, const std::string& prompt, const std::string& title);

}  // namespace kalo::platform
