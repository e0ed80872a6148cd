#include "platform/system_error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace kalo::platform {

Error SystemError(int code, std::string_view what, std::string source) {
  std::string description(what);
  description += " (";
  description += std::strerror(code);
  description += ")";
  // A full quota is a full disk to the user; the C++ library names no condition for it.
  const int number =
      code == EDQUOT ? error_number::kDiskFull : ErrorNumberOf(static_cast<std::errc>(code));
  return Error(number, std::move(description), std::move(source));
}

}  // namespace kalo::platform
