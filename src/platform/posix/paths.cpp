#include "platform/paths.h"

namespace kalo::platform {
namespace {

// POSIX paths know one separator, and the root is that separator alone.
constexpr char kPathSeparator = '/';

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == kPathSeparator) {
    return folder + name;
  }
  return folder + kPathSeparator + name;
}

std::string FolderOf(const std::string& path) {
  const auto separator = path.find_last_of(kPathSeparator);
  if (separator == std::string::npos) {
    return ".";
  }
  return separator == 0 ? std::string(1, kPathSeparator) : path.substr(0, separator);
}

std::string FileNameOf(const std::string& path) {
  const auto separator = path.find_last_of(kPathSeparator);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace kalo::platform
