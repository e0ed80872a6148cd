// A link where the program's own file or folder must stand is refused, never followed:
// another local user could aim it anywhere.
#pragma once

#include <string>

#include "platform/error.h"

namespace kalo::platform {

// The error for a link found where a file or folder of the program's own must stand
// (a lock, a record): it is refused, never followed. `source` names the refusing routine.
Error LinkRefused(const std::string& path, std::string source);

}  // namespace kalo::platform
