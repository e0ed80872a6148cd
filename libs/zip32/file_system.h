// What the search for files asks of the system; posix/ and win32/ realise it. Paths are
// UTF-8, with slashes between components.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kalo::zip32 {

// A file or folder that exists but cannot be read; the run stops and the archive stays
// as it was, because an archive that silently lacks a file is worse than none.
class ReadFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class FileKind { kFile, kFolder, kSpecial, kBrokenLink };

// Tells one file reached by two paths from two files: device and inode, or volume
// serial number and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FileFacts {
  FileKind kind = FileKind::kFile;
  // The path itself is a link (a reparse point on Windows); the other facts are those of
  // what it leads to.
  bool is_link = false;
  FileIdentity identity;
  std::time_t mtime = 0;
  std::optional<std::uint32_t> unix_mode;  // Type and permission bits, where there are any.
  bool read_only = false;                  // Windows' read-only attribute.
};

// Nothing when nothing is at the path, not even a link. Throws ReadFailure when
// something is there but its facts cannot be read.
std::optional<FileFacts> Inspect(const std::string& path);

// The names in a folder, without "." and "..", in no particular order; nothing when the
// folder cannot be opened. Throws ReadFailure when reading it fails part way.
std::optional<std::vector<std::string>> ListFolder(const std::string& folder);

// Whether the file can be opened for reading now.
bool CanRead(const std::string& path);

// The process's current folder, with slashes. Throws ReadFailure.
std::string CurrentFolder();

// The length of what makes a path absolute: "/", or on Windows a drive ("C:/", or "C:"
// alone, relative to that drive's current folder) or a share ("//server/share/"); 0 for
// a relative path.
std::size_t RootLength(std::string_view path);

// Whether the file system takes names without regard to case, as wildcards then do too.
extern const bool kNamesIgnoreCase;

}  // namespace kalo::zip32
