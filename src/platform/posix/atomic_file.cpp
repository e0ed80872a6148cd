#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/system_error.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "AtomicFile";

int Descriptor(std::intptr_t handle) {
  return static_cast<int>(handle);
}

mode_t ModeOf(FilePermissions permissions) {
  switch (permissions) {
    case FilePermissions::kExecutable:
      return 0755;
    case FilePermissions::kOwnerOnly:
      return 0600;
    case FilePermissions::kData:
      break;
  }
  return 0644;
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  // mkostemp replaces the six X by letters and digits.
  temporary_ = TemporaryTemplate(target_);
  handle_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (handle_ < 0) {
    throw SystemError(errno, "Não foi possível criar " + target_, kSource);
  }
}

AtomicFile::~AtomicFile() {
  if (handle_ >= 0) {
    ::close(Descriptor(handle_));
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
  }
}

void AtomicFile::Write(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(Descriptor(handle_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
}

void AtomicFile::Discard() {
  if (::ftruncate(Descriptor(handle_), 0) != 0 || ::lseek(Descriptor(handle_), 0, SEEK_SET) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
}

void AtomicFile::Flush() {
  if (::fsync(Descriptor(handle_)) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
}

void AtomicFile::Install(FilePermissions permissions, bool replace) {
  // mkostemp made the file owner-only; the mode is set again because a umask may have
  // narrowed it.
  if (::fchmod(Descriptor(handle_), ModeOf(permissions)) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  const int result = ::close(Descriptor(std::exchange(handle_, -1)));
  if (result != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  // A second name is given only where none stands, in one step (rename would replace);
  // the temporary name then goes with this object.
  if (!replace) {
    if (::link(temporary_.c_str(), target_.c_str()) != 0) {
      throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
    }
    return;
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  temporary_.clear();
}

}  // namespace kalo::platform
