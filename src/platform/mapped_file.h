// A file's bytes mapped read-only into memory, so that a reader touching a few places
// of a large file loads only those pages. Unmapped with its owner.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace kalo::platform {

class MappedFile {
 public:
  // No bytes when the file is missing, empty, not an ordinary file or cannot be mapped.
  explicit MappedFile(const std::string& path);
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const std::byte> Bytes() const { return bytes_; }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace kalo::platform
