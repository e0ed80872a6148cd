// Windows handles that close themselves.
#pragma once

#include <windows.h>

#include <utility>

namespace kalo::win32 {

template <BOOL(WINAPI* Close)(HANDLE)>
class BasicHandle {
 public:
  BasicHandle() = default;
  explicit BasicHandle(HANDLE handle) : handle_(handle) {}
  BasicHandle(BasicHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  BasicHandle& operator=(BasicHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  BasicHandle(const BasicHandle&) = delete;
  BasicHandle& operator=(const BasicHandle&) = delete;
  ~BasicHandle() { Reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes now; false when closing failed, which for a file can be a late write error.
  bool Reset() { return !valid() || Close(std::exchange(handle_, INVALID_HANDLE_VALUE)) != FALSE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// From CreateFileW.
using Handle = BasicHandle<::CloseHandle>;
// From FindFirstFileExW.
using FindHandle = BasicHandle<::FindClose>;

}  // namespace kalo::win32
