// The runtime error for a Win32 call that just failed. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/system_error.h"

namespace kalo::platform {

// Call it right after the failed call: the code it reads is that of the thread's last call.
inline Error LastSystemError(std::string_view what, std::string source) {
  return SystemError(static_cast<int>(::GetLastError()), what, std::move(source));
}

}  // namespace kalo::platform
