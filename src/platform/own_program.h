// Facts about the running program itself.
#pragma once

#include <string>

#include "platform/file_version.h"

namespace kalo::platform {

// The full path of the running program's file.
std::string OwnFilePath();

// The version this program was built with.
FileVersion OwnVersion();

// The system and processor the program runs as, for a support log: "linux-x86_64",
// "windows-x86" for a 32-bit Windows build.
std::string PlatformName();

}  // namespace kalo::platform
