#include "platform/file_system.h"

#include <functional>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/win32/last_error.h"
#include "platform/win32/link_refusal.h"
#include "wildcard.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "FileSystem";

// Failures that say the path names nothing, rather than that it could not be looked at.
bool NamesNothing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME;
}

bool IsOrdinaryFile(DWORD attributes) {
  constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                 FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM;
  return (attributes & kNotOrdinary) == 0;
}

// Names compare as the file system compares them, without regard to case.
std::wstring UpperCase(std::wstring_view text) {
  std::wstring upper(text.size(), L'\0');
  ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                  static_cast<int>(text.size()), upper.data(), static_cast<int>(upper.size()),
                  nullptr, nullptr, 0);
  return upper;
}

// Visits every entry that the system's search for `search` finds. Answers the error
// that ended the search, ERROR_SUCCESS when it ran to its end.
DWORD Search(const std::string& search, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
  const std::wstring wide_search = win32::Widen(search);
  WIN32_FIND_DATAW found{};
  const auto find = win32::FindHandle(::FindFirstFileExW(wide_search.c_str(), FindExInfoBasic,
                                                         &found, FindExSearchNameMatch, nullptr,
                                                         FIND_FIRST_EX_LARGE_FETCH));
  if (!find.valid()) {
    return ::GetLastError();
  }
  do {
    visit(found);
  } while (::FindNextFileW(find.get(), &found));
  const DWORD ended = ::GetLastError();
  return ended == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : ended;
}

// False, with the system's error code set, when the path cannot be looked at.
bool ReadAttributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& info) {
  return ::GetFileAttributesExW(win32::Widen(path).c_str(), GetFileExInfoStandard, &info) != 0;
}

// The attributes of the path itself; nothing when it names nothing.
std::optional<DWORD> AttributesOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!ReadAttributes(path, info)) {
    const DWORD error = ::GetLastError();
    if (NamesNothing(error)) {
      return std::nullopt;
    }
    throw SystemError(static_cast<int>(error), "Não foi possível examinar " + path, kSource);
  }
  return info.dwFileAttributes;
}

EntryKind KindFrom(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return EntryKind::kFolder;
  }
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::kOther : EntryKind::kFile;
}

}  // namespace

std::optional<std::string> FileSystem::FindFile(const std::string& pattern) const {
  const std::string folder = FolderOf(pattern);
  const std::string name = FileNameOf(pattern);
  if (name.empty()) {
    return std::nullopt;
  }
  // The system's own matching differs from ours: short 8.3 names match too, and "*.*"
  // takes names without a dot. So the system only narrows the candidates (a plain
  // name is looked up, a pattern lists the folder) and each long name is matched here.
  const bool has_wildcard = wildcard::HasWildcards(name);
  const std::wstring wanted = UpperCase(win32::Widen(name));
  std::optional<std::string> first;
  const DWORD error = Search(
      has_wildcard ? PathInFolder(folder, "*") : pattern, [&](const WIN32_FIND_DATAW& found) {
        // Only * and ? are wildcards, as on POSIX: brackets are ordinary in Windows names.
        if (!IsOrdinaryFile(found.dwFileAttributes) ||
            !wildcard::Matches(wanted, UpperCase(found.cFileName), {})) {
          return;
        }
        // Listing order is the file system's; answer the same name every time.
        if (std::string candidate = win32::Narrow(found.cFileName); !first || candidate < *first) {
          first = std::move(candidate);
        }
      });
  if (error != ERROR_SUCCESS && !NamesNothing(error)) {
    throw SystemError(static_cast<int>(error),
                      has_wildcard ? "Não foi possível procurar em " + folder
                                   : "Não foi possível procurar " + pattern,
                      kSource);
  }
  return first;
}

std::optional<EntryKind> FileSystem::KindOf(const std::string& path) const {
  const auto attributes = AttributesOf(path);
  return attributes ? std::optional(KindFrom(*attributes)) : std::nullopt;
}

// The attributes are those of the path itself, so a link shows as a reparse point.
std::optional<EntryKind> FileSystem::OwnKindOf(const std::string& path) const {
  const auto attributes = AttributesOf(path);
  if (attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::kLink;
  }
  return attributes ? std::optional(KindFrom(*attributes)) : std::nullopt;
}

std::uint64_t FileSystem::FileLength(const std::string& path) const {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!ReadAttributes(path, info)) {
    throw LastSystemError("Não foi possível obter o tamanho de " + path, kSource);
  }
  return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

void FileSystem::RemoveFile(const std::string& path) {
  if (!::DeleteFileW(win32::Widen(path).c_str())) {
    throw LastSystemError("Não foi possível excluir " + path, kSource);
  }
}

void FileSystem::FlushFile(const std::string& path) {
  // Windows flushes only through a handle that may write.
  const auto file =
      win32::Handle(::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || !::FlushFileBuffers(file.get())) {
    throw LastSystemError("Não foi possível gravar " + path, kSource);
  }
}

void FileSystem::RenameFile(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(win32::Widen(from).c_str(), win32::Widen(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
    throw LastSystemError("Não foi possível renomear " + from + " para " + to, kSource);
  }
}

std::vector<std::string> FileSystem::ListFolder(const std::string& folder) const {
  std::vector<std::string> names;
  const DWORD error = Search(PathInFolder(folder, "*"), [&names](const WIN32_FIND_DATAW& found) {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(win32::Narrow(name));
    }
  });
  // Only the root of an empty drive has not even "." and "..".
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
    throw SystemError(static_cast<int>(error), "Não foi possível listar a pasta " + folder,
                      kSource);
  }
  return names;
}

std::uint64_t FileSystem::FreeSpace(const std::string& path) const {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32::Widen(path).c_str(), &available, nullptr, nullptr)) {
    throw LastSystemError("Não foi possível saber o espaço livre em " + path, kSource);
  }
  return available.QuadPart;
}

// Opened with FILE_FLAG_OPEN_REPARSE_POINT, a link is the link itself and is refused.
void FileSystem::ReadPieces(const std::string& path, bool follow_links,
                            const std::function<void(std::span<const std::byte>)>& take) {
  const auto file = win32::Handle(::CreateFileW(
      win32::Widen(path).c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  if (!file.valid()) {
    throw LastSystemError("Não foi possível ler " + path, kSource);
  }
  if (!follow_links) {
    RefuseLink(file.get(), path, kSource);
  }
  std::vector<std::byte> piece(256 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) {
      throw LastSystemError("Não foi possível ler " + path, kSource);
    }
    if (got == 0) {
      return;
    }
    take(std::span(piece).first(got));
  }
}

// Opened with FILE_FLAG_OPEN_REPARSE_POINT, a link is the link itself and is refused.
std::uint64_t FileSystem::AppendToFile(const std::string& path, std::span<const std::byte> bytes) {
  const auto file = win32::Handle(::CreateFileW(
      win32::Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    throw LastSystemError("Não foi possível gravar " + path, kSource);
  }
  std::uint64_t length = RefuseAllButOwnFile(file.get(), path, kSource);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
      throw LastSystemError("Não foi possível gravar " + path, kSource);
    }
    length += written;
    bytes = bytes.subspan(written);
  }
  return length;
}

void FileSystem::CreateFolder(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
    throw LastSystemError("Não foi possível criar a pasta " + path, kSource);
  }
  // A name starting with a dot hides a folder elsewhere (the update run's own
  // ".kalo_upd"); Windows needs the attribute. A folder left visible does no harm.
  if (FileNameOf(path).starts_with('.')) {
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
}

}  // namespace kalo::platform
