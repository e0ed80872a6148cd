// Turns an operating-system error code into the runtime error type. Only the
// platform implementations include this header.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "platform/error.h"

namespace kalo::platform {

// `what` says what failed, in Portuguese, naming the path or object concerned;
// the system's own text for the code follows it in parentheses. `code` is in the
// system's own numbering: errno on POSIX, GetLastError() on Windows.
Error SystemError(int code, std::string_view what, std::string source);

}  // namespace kalo::platform
