// The search's system calls on Windows: file attributes and handles, FindFirstFileExW.
#include "file_system.h"

#include <windows.h>

#include <algorithm>

#include "win32/file_time.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::zip32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

const bool kNamesIgnoreCase = true;

std::optional<FileFacts> Inspect(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  // These are the attributes of a link itself.
  WIN32_FILE_ATTRIBUTE_DATA own{};
  if (::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &own) == FALSE) {
    return std::nullopt;
  }
  FileFacts facts;
  facts.is_link = (own.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT, a link gives what it leads to.
  const win32::Handle file(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || ::GetFileInformationByHandle(file.get(), &info) == FALSE) {
    if (!facts.is_link) {
      throw ReadFailure("cannot read " + path);
    }
    facts.kind = FileKind::kBrokenLink;
    return facts;
  }
  facts.kind =
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kFolder : FileKind::kFile;
  facts.identity = {info.dwVolumeSerialNumber,
                    (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  facts.mtime = win32::ToTime(info.ftLastWriteTime);
  facts.read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return facts;
}

std::optional<std::vector<std::string>> ListFolder(const std::string& folder) {
  std::wstring pattern = win32::Widen(folder);
  if (!pattern.empty() && pattern.back() != L'/' && pattern.back() != L'\\') {
    pattern += L'\\';
  }
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  const win32::FindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                    FindExSearchNameMatch, nullptr,
                                                    FIND_FIRST_EX_LARGE_FETCH));
  std::vector<std::string> names;
  if (!search.valid()) {
    // Only an empty drive has not even "." and "..".
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
      return names;
    }
    return std::nullopt;
  }
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(win32::Narrow(name));
    }
  } while (::FindNextFileW(search.get(), &found) != FALSE);
  if (::GetLastError() != ERROR_NO_MORE_FILES) {
    throw ReadFailure("cannot read the folder " + folder);
  }
  return names;
}

bool CanRead(const std::string& path) {
  return win32::Handle(::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
      .valid();
}

std::string CurrentFolder() {
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0 || length >= folder.size()) {
    throw ReadFailure("cannot tell the current folder");
  }
  folder.resize(length);
  std::string utf8 = win32::Narrow(folder);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

std::size_t RootLength(std::string_view path) {
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    return path.size() >= 3 && path[2] == '/' ? 3 : 2;
  }
  if (path.starts_with("//")) {
    // "//server/share/": the server and the share name belong to the root.
    const std::size_t server_end = path.find('/', 2);
    const std::size_t share_end =
        server_end == std::string_view::npos ? server_end : path.find('/', server_end + 1);
    return share_end == std::string_view::npos ? path.size() : share_end + 1;
  }
  return !path.empty() && path.front() == '/' ? 1 : 0;
}

}  // namespace kalo::zip32
