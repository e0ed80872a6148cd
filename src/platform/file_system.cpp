// The parts of the file-system services that every system shares.
#include "platform/file_system.h"

#include <functional>
#include <span>
#include <string>

namespace kalo::platform {

void FileSystem::ReadFileInPieces(
    const std::string& path, const std::function<void(std::span<const std::byte>)>& take) const {
  ReadPieces(path, true, take);
}

std::string FileSystem::ReadFile(const std::string& path) const {
  return ReadWhole(path, true);
}

std::string FileSystem::ReadFileNoFollow(const std::string& path) const {
  return ReadWhole(path, false);
}

std::string FileSystem::ReadWhole(const std::string& path, bool follow_links) {
  std::string content;
  ReadPieces(path, follow_links, [&content](std::span<const std::byte> piece) {
    content.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  });
  return content;
}

}  // namespace kalo::platform
