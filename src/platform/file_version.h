// The file version a.b.c.d that an executable or library carries, read from the file
// at a path. The readers of the bytes (executable_version.h) sit below this service and
// know nothing of files.
#pragma once

#include <optional>
#include <string>

#include "platform/executable_version.h"

namespace kalo::platform {

// Nothing when the file is missing, unreadable or carries no version information.
std::optional<FileVersion> ReadFileVersion(const std::string& path);

}  // namespace kalo::platform
