// Windows handles that close themselves, each by its own function. Only Windows code
// includes it.
#pragma once

#include <windows.h>

#include <utility>

namespace kalo::win32 {

// Owns `Native` and gives it back with `Closer`. Both null and INVALID_HANDLE_VALUE
// mean none, as the system's functions answer one or the other on failure (CreateFileW,
// FindFirstFileExW and CreateToolhelp32Snapshot the second).
template <typename Native, typename Closer>
class BasicHandle {
 public:
  BasicHandle() = default;
  explicit BasicHandle(Native handle) : handle_(handle) {}
  BasicHandle(BasicHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  BasicHandle& operator=(BasicHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  BasicHandle(const BasicHandle&) = delete;
  BasicHandle& operator=(const BasicHandle&) = delete;
  ~BasicHandle() { Reset(); }

  Native get() const { return handle_; }
  bool valid() const {
    return handle_ != nullptr && static_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE;
  }
  // Gives the handle up to an owner that closes it itself.
  Native release() { return std::exchange(handle_, nullptr); }
  // Closes now; false when closing failed, which for a file can be a late write error.
  bool Reset() {
    const bool owned = valid();
    const Native handle = std::exchange(handle_, nullptr);
    return !owned || Closer()(handle);
  }

 private:
  Native handle_ = nullptr;
};

struct KernelObjectCloser {
  bool operator()(HANDLE handle) const { return ::CloseHandle(handle) != FALSE; }
};

struct FindCloser {
  bool operator()(HANDLE handle) const { return ::FindClose(handle) != FALSE; }
};

struct KeyCloser {
  bool operator()(HKEY key) const { return ::RegCloseKey(key) == ERROR_SUCCESS; }
};

// A kernel object: file, mapping, process, thread, snapshot, event.
using Handle = BasicHandle<HANDLE, KernelObjectCloser>;
// An open folder search of FindFirstFileExW.
using FindHandle = BasicHandle<HANDLE, FindCloser>;
// An open registry key.
using KeyHandle = BasicHandle<HKEY, KeyCloser>;

}  // namespace kalo::win32
