// Refuses a link where a program's own file is opened, by the handle it was opened as.
// Only the Win32 implementations include it.
#pragma once

#include <windows.h>

#include <string>

#include "platform/link_refusal.h"
#include "platform/win32/last_error.h"

namespace kalo::platform {

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
