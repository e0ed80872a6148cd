#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/posix/own_file.h"
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

AtomicFile::AtomicFile(std::string target, std::string kept, std::uint64_t held)
    : target_(std::move(target)), temporary_(std::move(kept)), kept_(true) {
  OwnFile file = OpenOwnFile(temporary_, O_RDWR, kSource);
  length_ = file.length >= held ? held : 0;
  if (::ftruncate(file.fd.get(), static_cast<off_t>(length_)) != 0 ||
      ::lseek(file.fd.get(), static_cast<off_t>(length_), SEEK_SET) < 0) {
    throw SystemError(errno, "Não foi possível gravar " + temporary_, kSource);
  }
  handle_ = file.fd.release();
}

AtomicFile::~AtomicFile() {
  if (handle_ >= 0) {
    ::close(Descriptor(handle_));
  }
  if (!temporary_.empty() && !kept_) {
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
    length_ += static_cast<std::uint64_t>(written);
  }
}

void AtomicFile::Discard() {
  if (::ftruncate(Descriptor(handle_), 0) != 0 || ::lseek(Descriptor(handle_), 0, SEEK_SET) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  length_ = 0;
}

void AtomicFile::ReadBack(const std::function<void(std::span<const std::byte>)>& take) {
  std::vector<std::byte> piece(256 * 1024);
  for (std::uint64_t at = 0; at < length_;) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length_ - at));
    const ssize_t got = ::pread(Descriptor(handle_), piece.data(), wanted, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      throw SystemError(got < 0 ? errno : EIO, "Não foi possível ler " + temporary_, kSource);
    }
    take(std::span(piece).first(static_cast<std::size_t>(got)));
    at += static_cast<std::uint64_t>(got);
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
