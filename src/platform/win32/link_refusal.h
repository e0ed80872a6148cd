// Refuses a link where a program's own file is opened, by the handle it was opened as.
// Only the Win32 implementations include it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/error.h"
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

// For a file of the program's own opened with FILE_FLAG_OPEN_REPARSE_POINT in a folder
// others can write: refuses a link, a file with a second name (which would let whoever
// made it read or change a file of ours elsewhere) and anything but a disk file. Its
// length when it passes.
inline std::uint64_t RefuseAllButOwnFile(HANDLE opened, const std::string& path,
                                         const std::string& source) {
  RefuseLink(opened, path, source);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(opened, &info)) {
    throw LastSystemError("Não foi possível examinar " + path, source);
  }
  if (info.nNumberOfLinks > 1) {
    throw LinkRefused(path, source);
  }
  if (::GetFileType(opened) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw Error(error_number::kPathFileAccess,
                "Não foi possível usar " + path + ": não é um arquivo", source);
  }
  return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

}  // namespace kalo::platform
