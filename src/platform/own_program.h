// Facts about the running program itself.
#pragma once

#include <string>

#include "platform/file_version.h"

namespace kalo::platform {

// The full path of the running program's file.
std::string OwnFilePath();

// The version this program was built with.
FileVersion OwnVersion();

}  // namespace kalo::platform
