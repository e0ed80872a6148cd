// Owners of the system's handles, each released by its own function. Only the Win32
// implementations include it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace kalo::platform {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};

// A kernel object: file, mapping, process, thread, snapshot.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};

// An open folder search of FindFirstFileExW.
using UniqueFind = std::unique_ptr<void, FindCloser>;

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};

using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Some functions answer INVALID_HANDLE_VALUE on failure rather than a null handle
// (CreateFileW, FindFirstFileExW, CreateToolhelp32Snapshot); their owners are empty then.
template <typename Owner>
Owner OwnUnlessInvalid(HANDLE handle) {
  return Owner(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace kalo::platform
