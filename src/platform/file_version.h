// The file version a.b.c.d that an executable or library carries, read from its
// version resource (PE) or its version note (ELF).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kalo::platform {

struct FileVersion {
  std::uint16_t major = 0;     // a
  std::uint16_t minor = 0;     // b
  std::uint16_t build = 0;     // c
  std::uint16_t revision = 0;  // d

  friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// Nothing when the file is missing, unreadable or carries no version information.
std::optional<FileVersion> ReadFileVersion(const std::string& path);

}  // namespace kalo::platform
