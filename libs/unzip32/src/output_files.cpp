#include "output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

namespace kalo::unzip32 {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Fd::~Fd() {
  Close();
}

int Fd::Close() {
  if (fd_ < 0) {
    return 0;
  }
  const int result = ::close(std::exchange(fd_, -1));
  return result == 0 ? 0 : errno;
}

Fd OpenDestination(const std::string& path, int& error) {
  std::error_code ignored;
  // A failure here shows up as the open failing just below, with a clearer errno.
  std::filesystem::create_directories(path, ignored);
  Fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  error = folder.valid() ? 0 : errno;
  return folder;
}

Fd OpenFolders(int root, const std::vector<std::string>& folders, bool create, int& error,
               int& created) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  Fd current(::dup(root));
  error = current.valid() ? 0 : errno;
  for (const std::string& name : folders) {
    if (!current.valid()) {
      break;
    }
    Fd next(::openat(current.get(), name.c_str(), kFlags));
    if (!next.valid() && errno == ENOENT && create) {
      if (::mkdirat(current.get(), name.c_str(), 0755) == 0) {
        ++created;
      } else if (errno != EEXIST) {
        error = errno;
        return {};
      }
      next = Fd(::openat(current.get(), name.c_str(), kFlags));
    }
    if (!next.valid()) {
      error = errno;
      return {};
    }
    current = std::move(next);
  }
  return current;
}

int FolderCache::Open(int root, const std::vector<std::string>& folders, bool create, int& error,
                      int& created) {
  error = 0;
  if (const auto found = open_.find(folders); found != open_.end()) {
    return found->second.get();
  }
  Fd folder = OpenFolders(root, folders, create, error, created);
  if (!folder.valid()) {
    return -1;
  }
  if (open_.size() >= kMaxOpen) {
    open_.clear();
  }
  return open_.emplace(folders, std::move(folder)).first->second.get();
}

ExistingFile Inspect(int folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return {};
  }
  ExistingFile existing{true, S_ISDIR(info.st_mode), info.st_mtim.tv_sec, std::nullopt};
  // A link's own bits are always 0777 and say nothing about the file it stands in for.
  if (S_ISREG(info.st_mode)) {
    existing.mode = info.st_mode & 0777;
  }
  return existing;
}

PendingFile::~PendingFile() {
  if (fd_.valid()) {
    fd_.Close();
    ::unlinkat(folder_, temp_name_.c_str(), 0);
  }
}

int PendingFile::Create(mode_t mode) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  auto seed =
      static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 20);
  // O_EXCL makes a clash with another writer harmless: the next name is tried.
  for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005UL + 1) {
    temp_name_ = ".unzip32-" + std::to_string(seed % 1000000000UL) + ".tmp";
    const int fd = ::openat(folder_, temp_name_.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_ = Fd(fd);
      return 0;
    }
    if (errno != EEXIST) {
      return errno;
    }
  }
  return EEXIST;
}

int PendingFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    // Larger writes made the kernel's copy into the page cache several times slower in
    // most runs on the machine we measure on (see the README).
    constexpr std::size_t kMostPerWrite = 64 * 1024;
    const ssize_t written = ::write(fd_.get(), bytes.data(), std::min(bytes.size(), kMostPerWrite));
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return written < 0 ? errno : EIO;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int PendingFile::Commit(const std::string& name, std::optional<std::time_t> mtime) {
  if (mtime) {
    const timespec times[2] = {{0, UTIME_OMIT}, {*mtime, 0}};
    if (::futimens(fd_.get(), times) != 0) {
      return errno;
    }
  }
  if (const int error = fd_.Close(); error != 0) {
    ::unlinkat(folder_, temp_name_.c_str(), 0);
    return error;
  }
  if (::renameat(folder_, temp_name_.c_str(), folder_, name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(folder_, temp_name_.c_str(), 0);
    return error;
  }
  return 0;
}

}  // namespace kalo::unzip32
