#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/link_refusal.h"
#include "platform/paths.h"
#include "platform/posix/own_file.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error.h"
#include "wildcard.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "FileSystem";

struct SplitPath {
  std::string folder;  // "." when the path has no folder part
  std::string name;
};

// Only * and ? are wildcards, as users of the product expect; brackets and
// backslashes in a file name are taken literally.
std::string FnmatchPattern(const std::string& name) {
  std::string pattern;
  for (char c : name) {
    if (c == '[' || c == ']' || c == '\\') {
      pattern += '\\';
    }
    pattern += c;
  }
  return pattern;
}

bool IsHidden(const std::string& name) {
  return !name.empty() && name.front() == '.';
}

bool IsOrdinaryFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> FindByWildcard(const SplitPath& split) {
  UniqueDir dir(::opendir(split.folder.c_str()));
  if (!dir) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    throw SystemError(errno, "Não foi possível procurar em " + split.folder, kSource);
  }
  const std::string pattern = FnmatchPattern(split.name);
  std::vector<std::string> matches;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!IsHidden(name) && ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0 &&
        IsOrdinaryFile(PathInFolder(split.folder, name))) {
      matches.push_back(name);
    }
  }
  if (matches.empty()) {
    return std::nullopt;
  }
  // Directory order is arbitrary; answer the same name every time.
  return *std::ranges::min_element(matches);
}

// What stands at `path` as `examine` (stat, or lstat to see links themselves) tells it.
std::optional<EntryKind> KindAt(const std::string& path,
                                int (*examine)(const char*, struct stat*)) {
  struct stat info {};
  if (examine(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    throw SystemError(errno, "Não foi possível examinar " + path, kSource);
  }
  if (S_ISLNK(info.st_mode)) {
    return EntryKind::kLink;
  }
  if (S_ISDIR(info.st_mode)) {
    return EntryKind::kFolder;
  }
  return S_ISREG(info.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

}  // namespace

std::optional<std::string> FileSystem::FindFile(const std::string& pattern) const {
  const SplitPath split{FolderOf(pattern), FileNameOf(pattern)};
  if (split.name.empty() || IsHidden(split.name)) {
    return std::nullopt;
  }
  if (wildcard::HasWildcards(split.name)) {
    return FindByWildcard(split);
  }
  struct stat info {};
  if (::stat(pattern.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    throw SystemError(errno, "Não foi possível procurar " + pattern, kSource);
  }
  if (!S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return split.name;
}

std::optional<EntryKind> FileSystem::KindOf(const std::string& path) const {
  return KindAt(path, ::stat);
}

std::optional<EntryKind> FileSystem::OwnKindOf(const std::string& path) const {
  return KindAt(path, ::lstat);
}

std::uint64_t FileSystem::FileLength(const std::string& path) const {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw SystemError(errno, "Não foi possível obter o tamanho de " + path, kSource);
  }
  return static_cast<std::uint64_t>(info.st_size);
}

void FileSystem::RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    throw SystemError(errno, "Não foi possível excluir " + path, kSource);
  }
}

void FileSystem::FlushFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file || ::fsync(file.get()) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + path, kSource);
  }
}

void FileSystem::RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw SystemError(errno, "Não foi possível renomear " + from + " para " + to, kSource);
  }
}

std::vector<std::string> FileSystem::ListFolder(const std::string& folder) const {
  UniqueDir dir(::opendir(folder.c_str()));
  if (!dir) {
    throw SystemError(errno, "Não foi possível listar a pasta " + folder, kSource);
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  return names;
}

std::uint64_t FileSystem::FreeSpace(const std::string& path) const {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) {
    throw SystemError(errno, "Não foi possível saber o espaço livre em " + path, kSource);
  }
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

void FileSystem::ReadPieces(const std::string& path, bool follow_links,
                            const std::function<void(std::span<const std::byte>)>& take) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW)));
  if (!file) {
    // O_NOFOLLOW refuses a link with ELOOP.
    if (errno == ELOOP && !follow_links) {
      throw LinkRefused(path, kSource);
    }
    throw SystemError(errno, "Não foi possível ler " + path, kSource);
  }
  std::vector<std::byte> piece(256 * 1024);
  for (;;) {
    const ssize_t got = ::read(file.get(), piece.data(), piece.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      throw SystemError(errno, "Não foi possível ler " + path, kSource);
    }
    if (got == 0) {
      return;
    }
    take(std::span(piece).first(static_cast<std::size_t>(got)));
  }
}

std::uint64_t FileSystem::AppendToFile(const std::string& path, std::span<const std::byte> bytes) {
  const OwnFile file = OpenOwnFile(path, O_WRONLY | O_APPEND, kSource);
  std::uint64_t length = file.length;
  while (!bytes.empty()) {
    const ssize_t written = ::write(file.fd.get(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0) {
      throw SystemError(errno, "Não foi possível gravar " + path, kSource);
    }
    length += static_cast<std::uint64_t>(written);
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return length;
}

void FileSystem::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    throw SystemError(errno, "Não foi possível criar a pasta " + path, kSource);
  }
}

}  // namespace kalo::platform
