// Opens a file of the program's own that others may have tampered with (in a folder
// they can write). Only the POSIX implementations include it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/link_refusal.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error.h"

namespace kalo::platform {

struct OwnFile {
  UniqueFd fd;
  std::uint64_t length = 0;
};

// Opens `path` with `flags`, making it when missing, and refuses a link there, a file
// with a second name (which would let whoever made it read or change a file of ours
// elsewhere) and anything but an ordinary file (not blocking, so that a pipe placed
// there fails instead of holding the program).
inline OwnFile OpenOwnFile(const std::string& path, int flags, const std::string& source) {
  OwnFile file{
      UniqueFd(::open(path.c_str(), flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644)),
      0};
  if (!file.fd) {
    if (errno == ELOOP) {
      throw LinkRefused(path, source);
    }
    throw SystemError(errno, "Não foi possível gravar " + path, source);
  }
  struct stat info {};
  if (::fstat(file.fd.get(), &info) != 0) {
    throw SystemError(errno, "Não foi possível examinar " + path, source);
  }
  if (info.st_nlink > 1) {
    throw LinkRefused(path, source);
  }
  if (!S_ISREG(info.st_mode)) {
    throw Error(error_number::kPathFileAccess,
                "Não foi possível usar " + path + ": não é um arquivo", source);
  }
  file.length = static_cast<std::uint64_t>(info.st_size);
  return file;
}

}  // namespace kalo::platform
