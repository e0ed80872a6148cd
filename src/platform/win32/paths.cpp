#include "platform/paths.h"

#include <optional>
#include <string_view>

#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

// Windows writes '\' but takes '/' as well, so paths split on either.
constexpr char kPathSeparator = '\\';
constexpr std::string_view kSeparators = "\\/";

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && kSeparators.find(path.back()) != std::string_view::npos;
}

// What a size-then-fill Win32 call answers: the text, or nothing when the call fails.
template <typename Call>
std::optional<std::wstring> FilledText(Call call) {
  std::wstring text(call(nullptr, 0), L'\0');
  const DWORD length = text.empty() ? 0 : call(text.data(), static_cast<DWORD>(text.size()));
  if (length == 0 || length >= text.size()) {
    return std::nullopt;
  }
  text.resize(length);
  return text;
}

// The full path of an existing file or folder with its long names, without the prefix
// of long paths and without a separator at its end (but for a root's own), so that two
// spellings of one folder compare the same.
std::optional<std::wstring> LongFullPath(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  const auto full = FilledText([&wide](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
  });
  if (!full) {
    return std::nullopt;
  }
  auto long_path = FilledText([&full](wchar_t* buffer, DWORD size) {
    return ::GetLongPathNameW(full->c_str(), buffer, size);
  });
  if (!long_path) {
    return std::nullopt;
  }
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
  if (long_path->starts_with(kUncPrefix)) {
    long_path->replace(0, kUncPrefix.size(), L"\\\\");
  } else if (long_path->starts_with(kLocalPrefix)) {
    long_path->erase(0, kLocalPrefix.size());
  }
  while (long_path->size() > 3 && (long_path->back() == L'\\' || long_path->back() == L'/')) {
    long_path->pop_back();
  }
  return long_path;
}

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
  if (EndsWithSeparator(folder)) {
    return folder + name;
  }
  return folder + kPathSeparator + name;
}

std::string FolderOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  if (separator == std::string::npos) {
    return ".";
  }
  // A root keeps its separator: "\x" is in "\", "C:\x" in "C:\".
  const bool is_root = separator == 0 || (separator == 2 && path[1] == ':');
  return path.substr(0, is_root ? separator + 1 : separator);
}

std::string FileNameOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool IsSameFolder(const std::string& one, const std::string& other) {
  const auto long_one = LongFullPath(one);
  const auto long_other = LongFullPath(other);
  return long_one && long_other &&
         ::CompareStringOrdinal(long_one->data(), static_cast<int>(long_one->size()),
                                long_other->data(), static_cast<int>(long_other->size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace kalo::platform
