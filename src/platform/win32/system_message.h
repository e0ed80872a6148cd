// The system's own text for an error code. Only the Win32 implementations include it.
#pragma once

#include <windows.h>

#include <string>

namespace kalo::platform {

// The system's words for `code`, in the user's language, without the final line break;
// `module` names the one that carries texts of its own (WinINet's), nullptr for the
// system's. Nothing when there is no text for the code.
std::string SystemMessage(DWORD code, HMODULE module = nullptr);

}  // namespace kalo::platform
