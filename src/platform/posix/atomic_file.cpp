#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "platform/system_error.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "AtomicFile";
// mkostemp replaces the six X by letters and digits.
constexpr std::string_view kTemporarySuffix = ".part-XXXXXX";

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  temporary_ = target_ + std::string(kTemporarySuffix);
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw SystemError(errno, "Não foi possível criar " + target_, kSource);
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
  }
}

void AtomicFile::Write(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
}

void AtomicFile::Commit(FilePermissions permissions) {
  const mode_t mode = permissions == FilePermissions::kExecutable ? 0755 : 0644;
  if (::fchmod(fd_, mode) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  const int result = ::close(std::exchange(fd_, -1));
  if (result != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw SystemError(errno, "Não foi possível gravar " + target_, kSource);
  }
  temporary_.clear();
}

bool IsAtomicFileTemporary(std::string_view name) {
  if (name.size() <= kTemporarySuffix.size()) {
    return false;
  }
  const std::string_view suffix = name.substr(name.size() - kTemporarySuffix.size());
  const std::string_view fixed = kTemporarySuffix.substr(0, kTemporarySuffix.find('X'));
  return suffix.starts_with(fixed) &&
         std::all_of(suffix.begin() + static_cast<std::ptrdiff_t>(fixed.size()), suffix.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace kalo::platform
