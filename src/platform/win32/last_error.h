// The runtime error for a Win32 call that just failed. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/system_error.h"

namespace kalo::platform {

// The system's words for `code`, in the user's language, without the final line break;
// `module` names the one that carries texts of its own (WinINet's), nullptr for the
// system's. Nothing when there is no text for the code.
std::string SystemMessage(DWORD code, HMODULE module = nullptr);

// Call it right after the failed call: the code it reads is that of the thread's last call.
inline Error LastSystemError(std::string_view what, std::string source) {
  return SystemError(static_cast<int>(::GetLastError()), what, std::move(source));
}

}  // namespace kalo::platform
