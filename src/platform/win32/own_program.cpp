#include "platform/own_program.h"

#include <string>

#include "platform/win32/last_error.h"
#include "win32/wide_text.h"

namespace kalo::platform {

std::string OwnFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw LastSystemError("Não foi possível saber o próprio arquivo", "OwnFilePath");
    }
    // A path that does not fit comes back cut to the buffer's size.
    if (length < path.size()) {
      path.resize(length);
      return win32::Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

// The program's own build, which is what a 32-bit program on a 64-bit system runs as.
std::string PlatformName() {
  return sizeof(void*) == 8 ? "windows-x64" : "windows-x86";
}

}  // namespace kalo::platform
