#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_system.h"
#include "platform/link_refusal.h"
#include "platform/system_error.h"

namespace kalo::platform {

std::optional<FileLock> FileLock::TryLock(const std::string& path) {
  // Close-on-exec, so that no program we start goes on holding the lock; and never
  // through a link, which would create or lock a file elsewhere.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    if (errno == ELOOP) {
      throw LinkRefused(path, "FileLock");
    }
    throw SystemError(errno, "Não foi possível abrir " + path, "FileLock");
  }
  FileLock lock(fd);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return std::nullopt;
    }
    if (errno != EINTR) {
      throw SystemError(errno, "Não foi possível travar " + path, "FileLock");
    }
  }
  return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FileLock::~FileLock() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

}  // namespace kalo::platform
