#include "platform/shared_library.h"

#include <filesystem>

#include "platform/error.h"
#include "platform/system_error.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "SharedLibrary";

// Keeps the system from asking the user about a library that fails to load (a missing
// dependency, a damaged file): an unattended run has no one to answer.
class NoErrorBoxes {
 public:
  NoErrorBoxes() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_); }
  NoErrorBoxes(const NoErrorBoxes&) = delete;
  NoErrorBoxes& operator=(const NoErrorBoxes&) = delete;
  ~NoErrorBoxes() { ::SetThreadErrorMode(previous_, nullptr); }

 private:
  DWORD previous_ = 0;
};

}  // namespace

void SharedLibrary::Closer::operator()(void* handle) const {
  ::FreeLibrary(static_cast<HMODULE>(handle));
}

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  const std::string failure = "Não foi possível carregar a biblioteca " + path;
  // A relative path would be looked up along the search path, where anyone may have put
  // a library of that name: it is taken from the current folder, as POSIX does with a
  // path that holds a folder.
  std::error_code ignored;
  const std::wstring wide_path = std::filesystem::absolute(win32::Widen(path), ignored).wstring();
  DWORD load_error = ERROR_SUCCESS;
  {
    const NoErrorBoxes quiet;
    // With an absolute path the library's own dependencies are searched beside it first.
    handle_.reset(::LoadLibraryExW(wide_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    load_error = ::GetLastError();
  }
  if (!handle_) {
    // Whatever the system's reason, the library counts as not found, as on POSIX.
    const Error reason = SystemError(static_cast<int>(load_error), failure, kSource);
    throw Error(error_number::kFileNotFound, reason.Description(), kSource);
  }
}

void* SharedLibrary::Function(const std::string& name) const {
  const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_.get()), name.c_str());
  if (address == nullptr) {
    throw Error(error_number::kEntryPointNotFound,
                "A biblioteca " + path_ + " não exporta a função " + name, kSource);
  }
  return reinterpret_cast<void*>(address);
}

}  // namespace kalo::platform
