// The search's system calls on POSIX: lstat and stat, readdir, getcwd.
#include "file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

namespace kalo::zip32 {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

const bool kNamesIgnoreCase = false;

std::optional<FileFacts> Inspect(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  FileFacts facts;
  facts.is_link = S_ISLNK(info.st_mode);
  if (facts.is_link && ::stat(path.c_str(), &info) != 0) {
    facts.kind = FileKind::kBrokenLink;
    return facts;
  }
  facts.kind = S_ISREG(info.st_mode)   ? FileKind::kFile
               : S_ISDIR(info.st_mode) ? FileKind::kFolder
                                       : FileKind::kSpecial;
  facts.identity = {static_cast<std::uint64_t>(info.st_dev),
                    static_cast<std::uint64_t>(info.st_ino)};
  facts.mtime = info.st_mtime;
  facts.unix_mode = static_cast<std::uint32_t>(info.st_mode);
  return facts;
}

std::optional<std::vector<std::string>> ListFolder(const std::string& folder) {
  const DirHandle dir(::opendir(folder.c_str()));
  if (!dir) {
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (true) {
    // Only errno tells the end of the folder from a failure to read it.
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  if (errno != 0) {
    throw ReadFailure("cannot read the folder " + folder);
  }
  return names;
}

bool CanRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  ::close(fd);
  return true;
}

std::string CurrentFolder() {
  std::string folder(PATH_MAX, '\0');
  if (::getcwd(folder.data(), folder.size()) == nullptr) {
    throw ReadFailure("cannot tell the current folder");
  }
  folder.resize(folder.find('\0'));
  return folder;
}

std::size_t RootLength(std::string_view path) {
  return !path.empty() && path.front() == '/' ? 1 : 0;
}

}  // namespace kalo::zip32
