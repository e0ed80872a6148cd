#include "platform/paths.h"

#include <cstdlib>
#include <memory>
#include <optional>

namespace kalo::platform {
namespace {

// POSIX paths know one separator, and the root is that separator alone.
constexpr char kPathSeparator = '/';

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

// The path without links, "." or "..", as the system resolves it.
std::optional<std::string> CanonicalPath(const std::string& path) {
  const std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
  if (!resolved) {
    return std::nullopt;
  }
  return std::string(resolved.get());
}

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

bool IsSameFolder(const std::string& one, const std::string& other) {
  const auto canonical_one = CanonicalPath(one);
  return canonical_one && canonical_one == CanonicalPath(other);
}

}  // namespace kalo::platform
