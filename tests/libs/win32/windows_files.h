// Windows set-ups and file facts for the tests of our archive libraries.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalo::test {

struct WindowsHandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using WindowsHandle = std::unique_ptr<void, WindowsHandleCloser>;

inline WindowsHandle OpenWindowsFile(const std::filesystem::path& path, DWORD access, DWORD share,
                                     DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  HANDLE handle =
      ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  return WindowsHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// The text in the ANSI code page, as the libraries' callers write it; nothing when the
// code page lacks one of its characters.
inline std::optional<std::string> Ansi(std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  BOOL lossy = FALSE;
  std::string ansi(static_cast<std::size_t>(length) * 2, '\0');
  const int written =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, ansi.data(),
                            static_cast<int>(ansi.size()), nullptr, &lossy);
  if (written <= 0 || lossy != FALSE) {
    return std::nullopt;
  }
  ansi.resize(static_cast<std::size_t>(written));
  return ansi;
}

inline DWORD AttributesOf(const std::filesystem::path& path) {
  return ::GetFileAttributesW(path.c_str());
}

// Makes `link`, an empty folder, a junction to the folder `target`, as `mklink /J` does;
// false where the system cannot (wine).
inline bool MakeJunction(const std::filesystem::path& link, const std::filesystem::path& target) {
  std::filesystem::create_directory(link);
  const std::wstring substitute = L"\\??\\" + std::filesystem::absolute(target).wstring();
  const auto bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  // The mount point record: tag, length, then the offsets and lengths of the substitute
  // name and of an empty print name, and the two names, each ending in NUL.
  const WORD header[] = {0, bytes, static_cast<WORD>(bytes + sizeof(wchar_t)), 0};
  const WORD data_length = static_cast<WORD>(sizeof header + bytes + 2 * sizeof(wchar_t));
  std::vector<BYTE> record(8 + data_length, 0);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(record.data(), &tag, sizeof tag);
  std::memcpy(record.data() + 4, &data_length, sizeof data_length);
  std::memcpy(record.data() + 8, header, sizeof header);
  std::memcpy(record.data() + 8 + sizeof header, substitute.data(), bytes);
  const WindowsHandle folder = OpenWindowsFile(
      link, GENERIC_WRITE, 0, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  DWORD returned = 0;
  return folder &&
         ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, record.data(),
                           static_cast<DWORD>(record.size()), nullptr, 0, &returned,
                           nullptr) != FALSE &&
         (AttributesOf(link) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether a folder held open without FILE_SHARE_DELETE cannot be renamed; wine lets it be.
inline bool HeldFoldersStayInPlace(const std::filesystem::path& scratch) {
  const std::filesystem::path folder = scratch / "held";
  std::filesystem::create_directory(folder);
  const WindowsHandle held = OpenWindowsFile(
      folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_BACKUP_SEMANTICS);
  const std::filesystem::path moved = scratch / "moved";
  return held && ::MoveFileExW(folder.c_str(), moved.c_str(), 0) == FALSE;
}

}  // namespace kalo::test
