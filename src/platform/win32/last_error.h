// The runtime error for a Win32 call that just failed. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/file_system.h"
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

// For a file opened with FILE_FLAG_OPEN_REPARSE_POINT, which opens a link as itself:
// throws LinkRefused when it is one, so that a program's own file is never reached
// through a link.
inline void RefuseLink(HANDLE opened, const std::string& path, const std::string& source) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(opened, &info)) {
    throw LastSystemError("Não foi possível examinar " + path, source);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw LinkRefused(path, source);
  }
}

}  // namespace kalo::platform
