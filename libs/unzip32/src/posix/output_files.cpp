// Extraction's file-system side over folder descriptors: openat, mkdirat, fstatat and
// renameat relative to folders held open, with O_NOFOLLOW below the destination.
#include "output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kalo::unzip32 {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }

  int get() const { return fd_; }
  // Closes now and reports the error that a late write failure shows only here.
  int Close() {
    if (fd_ < 0) {
      return 0;
    }
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

}  // namespace

struct Folder::Opened {
  explicit Opened(int descriptor) : fd(descriptor) {}
  Fd fd;
};

struct PendingFile::Writing {
  Writing(std::string name, int fd) : temp_name(std::move(name)), file(fd) {}
  std::string temp_name;
  Fd file;
};

namespace {

Folder Hold(int fd, int& error) {
  if (fd < 0) {
    error = errno;
    return {};
  }
  error = 0;
  return Folder(std::make_shared<const Folder::Opened>(fd));
}

int FdOf(const Folder& folder) {
  return folder.opened()->fd.get();
}

}  // namespace

std::string ErrorText(int error) {
  return std::strerror(error);
}

bool IsNotFound(int error) {
  return error == ENOENT;
}

bool CanHoldName(const std::string&) {
  return true;
}

Folder OpenDestination(const std::string& path, int& error) {
  std::error_code ignored;
  // A failure here shows up as the open failing just below, with a clearer errno.
  std::filesystem::create_directories(path, ignored);
  return Hold(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), error);
}

Folder OpenFolders(const Folder& root, const std::vector<std::string>& folders, bool create,
                   int& error, int& created) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  Folder current = root;
  error = 0;
  for (const std::string& name : folders) {
    int fd = ::openat(FdOf(current), name.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(FdOf(current), name.c_str(), 0755) == 0) {
        ++created;
      } else if (errno != EEXIST) {
        error = errno;
        return {};
      }
      fd = ::openat(FdOf(current), name.c_str(), kFlags);
    }
    current = Hold(fd, error);
    if (!current.valid()) {
      return {};
    }
  }
  return current;
}

ExistingFile Inspect(const Folder& folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(FdOf(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return {};
  }
  ExistingFile existing{true, S_ISDIR(info.st_mode), info.st_mtim.tv_sec, std::nullopt};
  // A link's own bits are always 0777 and say nothing about the file it stands in for.
  if (S_ISREG(info.st_mode)) {
    existing.mode = info.st_mode & 0777;
  }
  return existing;
}

PendingFile::PendingFile(const Folder& folder) : folder_(folder) {}

PendingFile::~PendingFile() {
  if (writing_) {
    writing_->file.Close();
    ::unlinkat(FdOf(folder_), writing_->temp_name.c_str(), 0);
  }
}

int PendingFile::CreateNamed(const std::string& name, FileMode mode, bool& taken) {
  const int fd =
      ::openat(FdOf(folder_), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
               static_cast<mode_t>(mode));
  if (fd < 0) {
    taken = errno == EEXIST;
    return errno;
  }
  writing_ = std::make_unique<Writing>(name, fd);
  return 0;
}

int PendingFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    // Larger writes made the kernel's copy into the page cache several times slower in
    // most runs on the machine we measure on (see the README).
    constexpr std::size_t kMostPerWrite = 64 * 1024;
    const ssize_t written =
        ::write(writing_->file.get(), bytes.data(), std::min(bytes.size(), kMostPerWrite));
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
    if (::futimens(writing_->file.get(), times) != 0) {
      return errno;
    }
  }
  // On failure the destructor removes the temporary file.
  if (const int error = writing_->file.Close(); error != 0) {
    return error;
  }
  const int folder = FdOf(folder_);
  if (::renameat(folder, writing_->temp_name.c_str(), folder, name.c_str()) != 0) {
    return errno;
  }
  writing_.reset();
  return 0;
}

}  // namespace kalo::unzip32
