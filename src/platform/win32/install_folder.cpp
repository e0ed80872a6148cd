#include "platform/install_folder.h"

#include <string>

#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

// The variable's value; empty when it is not set.
std::wstring EnvironmentVariable(const wchar_t* name) {
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD length =
        ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    // A value that fits answers its length; one that does not, the size it needs.
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

}  // namespace

std::string InstallFolder() {
  if (const std::wstring folder = EnvironmentVariable(L"KALO_DIR"); !folder.empty()) {
    return win32::Narrow(folder);
  }
  return "C:\\KALO";
}

}  // namespace kalo::platform
