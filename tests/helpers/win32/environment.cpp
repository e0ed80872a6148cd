#include "helpers/environment.h"

#include "win32/wide_text.h"

namespace kalo::test {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const std::wstring wide_name = win32::Widen(name);
  ::SetLastError(ERROR_SUCCESS);
  const DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    return std::nullopt;
  }
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return win32::Narrow(value);
}

// The C runtime keeps a copy of the environment of its own: both are changed. The
// runtime cannot hold an empty value, the system's environment can.
void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wide_name = win32::Widen(name);
  const std::wstring wide_value = value ? win32::Widen(*value) : std::wstring();
  ::_wputenv_s(wide_name.c_str(), wide_value.c_str());
  ::SetEnvironmentVariableW(wide_name.c_str(), value ? wide_value.c_str() : nullptr);
}

}  // namespace kalo::test
