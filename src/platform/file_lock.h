// An advisory lock on a file, so that cooperating processes take turns. The system
// drops the lock when its holder ends, however it ends, so a killed run never leaves
// the next one locked out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kalo::platform {

class FileLock {
 public:
  // Locks `path`, creating the file when missing. Nothing when another holder has it;
  // throws when the file cannot be opened, and LinkRefused when `path` is a link.
  static std::optional<FileLock> TryLock(const std::string& path);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = -1;  // the system's handle of the open lock file
};

}  // namespace kalo::platform
