#include "platform/file_version.h"

#include "platform/mapped_file.h"

namespace kalo::platform {

std::optional<FileVersion> ReadFileVersion(const std::string& path) {
  const MappedFile file(path);
  return ParseExecutableVersion(file.Bytes());
}

}  // namespace kalo::platform
