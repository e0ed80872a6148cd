// Readers of the version that a program file carries, over the file's bytes. They
// take any input, hostile included: they never read outside `image`, never loop
// without bound and answer nothing when the version cannot be found.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "platform/file_version.h"

namespace kalo::platform {

// A PE32 or PE32+ image: the file version of the fixed file information in its
// RT_VERSION resource.
std::optional<FileVersion> ParsePeVersion(std::span<const std::byte> image);

// An ELF file (32- or 64-bit, either byte order): the file version of its note with
// owner "KALO" and type 1, whose descriptor is that same fixed file information.
std::optional<FileVersion> ParseElfVersion(std::span<const std::byte> image);

// Whichever of the two formats the image is; nothing for any other file.
std::optional<FileVersion> ParseExecutableVersion(std::span<const std::byte> image);

}  // namespace kalo::platform
