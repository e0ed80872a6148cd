#include "platform/file_lock.h"

#include <utility>

#include "platform/win32/last_error.h"
#include "platform/win32/link_refusal.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The whole file, however long it grows.
constexpr DWORD kWholeFile = MAXDWORD;

}  // namespace

std::optional<FileLock> FileLock::TryLock(const std::string& path) {
  // Shared opening: the lock, not the open file, keeps others out. No security
  // attributes, so the handle is not inherited and no program we start holds the lock.
  // A link is opened as itself, never followed, and then refused.
  const HANDLE handle =
      ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw LastSystemError("Não foi possível abrir " + path, "FileLock");
  }
  FileLock lock(reinterpret_cast<std::intptr_t>(handle));
  RefuseLink(handle, path, "FileLock");
  OVERLAPPED whole_file{};
  if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kWholeFile,
                    kWholeFile, &whole_file)) {
    if (::GetLastError() == ERROR_LOCK_VIOLATION) {
      return std::nullopt;
    }
    throw LastSystemError("Não foi possível travar " + path, "FileLock");
  }
  return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FileLock::~FileLock() {
  if (handle_ != -1) {
    // Closing alone frees the lock only when the system gets round to it; the next
    // run may be asking for it at once.
    OVERLAPPED whole_file{};
    ::UnlockFileEx(HandleOf(handle_), 0, kWholeFile, kWholeFile, &whole_file);
    ::CloseHandle(HandleOf(handle_));
  }
}

}  // namespace kalo::platform
