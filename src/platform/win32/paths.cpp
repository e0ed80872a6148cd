#include "platform/paths.h"

#include <string_view>

namespace kalo::platform {
namespace {

// Windows writes '\' but takes '/' as well, so paths split on either.
constexpr char kPathSeparator = '\\';
constexpr std::string_view kSeparators = "\\/";

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && kSeparators.find(path.back()) != std::string_view::npos;
}

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
  if (EndsWithSeparator(folder)) {
    return folder + name;
  }
  return folder + kPathSeparator + name;
}

std::string FolderOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  if (separator == std::string::npos) {
    return ".";
  }
  // A root keeps its separator: "\x" is in "\", "C:\x" in "C:\".
  const bool is_root = separator == 0 || (separator == 2 && path[1] == ':');
  return path.substr(0, is_root ? separator + 1 : separator);
}

std::string FileNameOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace kalo::platform
