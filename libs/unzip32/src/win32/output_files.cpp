// Extraction's file-system side on Windows. Each folder below the destination is opened
// by itself without following reparse points (junctions, symbolic links) and held
// without FILE_SHARE_DELETE, so that it cannot be renamed or replaced while paths are
// built through it. Paths start from the destination's final path ("\\?\C:\..."), which
// also lifts the 260-character limit.
#include "output_files.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "win32/file_time.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::unzip32 {

struct Folder::Opened {
  // The folders above are held as well, so that the whole path stays as it was checked.
  std::shared_ptr<const Opened> parent;
  win32::Handle handle;
  std::wstring path;
};

struct PendingFile::Writing {
  std::wstring temp_path;
  win32::Handle file;
  bool read_only = false;
};

namespace {

// Others may read and write, but not delete or rename, what a run holds.
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring ChildPath(const Folder& folder, const std::string& name) {
  return folder.opened()->path + L'\\' + win32::Widen(name);
}

// Only the destination is opened through reparse points: the caller chose that path.
win32::Handle OpenFolderHandle(const std::wstring& path, bool follow_links) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return win32::Handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kHeldShare, nullptr,
                                     OPEN_EXISTING, flags, nullptr));
}

// 0 when the handle is a folder and no reparse point, else the error that says why not.
int CheckFolder(const win32::Handle& handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle.get(), &info) == FALSE) {
    return static_cast<int>(::GetLastError());
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return ERROR_CANT_RESOLVE_FILENAME;
  }
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
}

// The folder's path with every link in it resolved, as the handle found it, or the path
// as given where the system cannot tell; either in the "\\?\" form, which Windows takes
// as it is, so that no name below it is read as another ("a. " as "a", say).
std::wstring FinalPath(const win32::Handle& folder, const std::wstring& given) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(folder.get(), path.data(), static_cast<DWORD>(path.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      std::error_code ignored;
      const std::wstring full = std::filesystem::absolute(given, ignored).wstring();
      if (full.starts_with(LR"(\\?\)")) {
        return full;
      }
      return full.starts_with(LR"(\\)") ? LR"(\\?\UNC\)" + full.substr(2) : LR"(\\?\)" + full;
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

int LastError() {
  return static_cast<int>(::GetLastError());
}

// A read-only file can be neither replaced nor removed. The handle is that of the name
// itself, so a link put there meanwhile is changed instead of what it leads to.
void AllowChanges(const std::wstring& path) {
  const win32::Handle file(
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || ::GetFileInformationByHandle(file.get(), &info) == FALSE ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return;
  }
  // Zero would mean "leave the attributes as they are".
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (basic.FileAttributes == 0) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
}

}  // namespace

std::string ErrorText(int error) {
  std::array<wchar_t, 512> text{};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(error), 0, text.data(),
                                        static_cast<DWORD>(text.size()), nullptr);
  std::string message = win32::Narrow(std::wstring_view(text.data(), length));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "system error " + std::to_string(error) : message;
}

bool IsNotFound(int error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CanHoldName(const std::string& name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ') {
    return false;
  }
  const bool reserved = std::ranges::any_of(name, [](unsigned char c) {
    return c < 0x20 ||
           std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos;
  });
  if (reserved) {
    return false;
  }
  std::string stem = name.substr(0, name.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  std::ranges::transform(stem, stem.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  const bool numbered = stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
                        stem[3] >= '1' && stem[3] <= '9';
  return !numbered && stem != "con" && stem != "prn" && stem != "aux" && stem != "nul";
}

Folder OpenDestination(const std::string& path, int& error) {
  const std::wstring given = win32::Widen(path);
  std::error_code ignored;
  // A failure here shows up as the open failing just below, with a clearer error.
  std::filesystem::create_directories(given, ignored);
  win32::Handle handle = OpenFolderHandle(given, true);
  error = handle.valid() ? CheckFolder(handle) : LastError();
  if (error != 0) {
    return {};
  }
  std::wstring final_path = FinalPath(handle, given);
  return Folder(std::make_shared<const Folder::Opened>(
      Folder::Opened{nullptr, std::move(handle), std::move(final_path)}));
}

Folder OpenFolders(const Folder& root, const std::vector<std::string>& folders, bool create,
                   int& error, int& created) {
  Folder current = root;
  error = 0;
  for (const std::string& name : folders) {
    std::wstring path = ChildPath(current, name);
    win32::Handle handle = OpenFolderHandle(path, false);
    if (!handle.valid() && create && IsNotFound(LastError())) {
      if (::CreateDirectoryW(path.c_str(), nullptr) != FALSE) {
        ++created;
      } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = LastError();
        return {};
      }
      handle = OpenFolderHandle(path, false);
    }
    error = handle.valid() ? CheckFolder(handle) : LastError();
    if (error != 0) {
      return {};
    }
    current = Folder(std::make_shared<const Folder::Opened>(
        Folder::Opened{current.opened(), std::move(handle), std::move(path)}));
  }
  return current;
}

ExistingFile Inspect(const Folder& folder, const std::string& name) {
  // These are the attributes of a link itself, never of what it leads to.
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (::GetFileAttributesExW(ChildPath(folder, name).c_str(), GetFileExInfoStandard, &info) ==
      FALSE) {
    return {};
  }
  const bool is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  ExistingFile existing{true, is_folder, win32::ToTime(info.ftLastWriteTime), std::nullopt};
  if (!is_folder && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    existing.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644;
  }
  return existing;
}

PendingFile::PendingFile(const Folder& folder) : folder_(folder) {}

PendingFile::~PendingFile() {
  if (writing_) {
    writing_->file.Reset();
    AllowChanges(writing_->temp_path);
    ::DeleteFileW(writing_->temp_path.c_str());
  }
}

int PendingFile::CreateNamed(const std::string& name, FileMode mode, bool& taken) {
  std::wstring path = ChildPath(folder_, name);
  // Without FILE_FLAG_OPEN_REPARSE_POINT a link of that name would lead the file elsewhere.
  win32::Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    const int error = LastError();
    taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return error;
  }
  // The attribute comes at Commit, since it would keep the file from being written.
  const bool read_only = (mode & 0200) == 0;
  writing_ = std::make_unique<Writing>(Writing{std::move(path), std::move(file), read_only});
  return 0;
}

int PendingFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    constexpr std::size_t kMostPerWrite = 64 * 1024;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kMostPerWrite));
    DWORD written = 0;
    if (::WriteFile(writing_->file.get(), bytes.data(), chunk, &written, nullptr) == FALSE) {
      return LastError();
    }
    if (written == 0) {
      return ERROR_WRITE_FAULT;
    }
    bytes.remove_prefix(written);
  }
  return 0;
}

int PendingFile::Commit(const std::string& name, std::optional<std::time_t> mtime) {
  // Zero times and attributes are left as they are.
  FILE_BASIC_INFO basic{};
  if (mtime) {
    basic.LastWriteTime = win32::ToFileTime(*mtime);
  }
  if (writing_->read_only) {
    basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
  }
  // On failure the destructor removes the temporary file.
  if ((mtime || writing_->read_only) &&
      ::SetFileInformationByHandle(writing_->file.get(), FileBasicInfo, &basic, sizeof basic) ==
          FALSE) {
    return LastError();
  }
  if (!writing_->file.Reset()) {
    return LastError();
  }
  const std::wstring path = ChildPath(folder_, name);
  const wchar_t* temp_path = writing_->temp_path.c_str();
  if (::MoveFileExW(temp_path, path.c_str(), MOVEFILE_REPLACE_EXISTING) == FALSE) {
    // A read-only file in the way is replaced as well, as a rename does on POSIX.
    if (::GetLastError() != ERROR_ACCESS_DENIED) {
      return LastError();
    }
    AllowChanges(path);
    if (::MoveFileExW(temp_path, path.c_str(), MOVEFILE_REPLACE_EXISTING) == FALSE) {
      return LastError();
    }
  }
  writing_.reset();
  return 0;
}

}  // namespace kalo::unzip32
