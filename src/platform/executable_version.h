// Readers of the version that a program file carries, over the file's bytes. They
// take any input, hostile included: they never read outside `image`, never loop
// without bound and answer nothing when the version cannot be found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kalo::platform {

// The file version a.b.c.d of the fixed file information.
struct FileVersion {
  std::uint16_t major = 0;     // a
  std::uint16_t minor = 0;     // b
  std::uint16_t build = 0;     // c
  std::uint16_t revision = 0;  // d

  friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// A PE32 or PE32+ image: the file version of the fixed file information in its
// RT_VERSION resource.
std::optional<FileVersion> ParsePeVersion(std::span<const std::byte> image);

// An ELF file (32- or 64-bit, either byte order): the file version of its note with
// owner "KALO" and type 1, whose descriptor is that same fixed file information.
std::optional<FileVersion> ParseElfVersion(std::span<const std::byte> image);

// Whichever of the two formats the image is; nothing for any other file.
std::optional<FileVersion> ParseExecutableVersion(std::span<const std::byte> image);

}  // namespace kalo::platform
