// The file-system side of extraction. Everything below the destination folder is reached
// through folders held open and never through a symbolic link or other reparse point, so
// that no link, whether made earlier or by someone else, can lead a write outside the
// destination. Paths and names are UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kalo::unzip32 {

// Unix permission bits (0777). Windows keeps only whether the owner may write: a file
// without that bit gets the read-only attribute.
using FileMode = std::uint32_t;

// Failures are system error numbers: errno values, or GetLastError() values on Windows.
// 0 is no failure.
std::string ErrorText(int error);
bool IsNotFound(int error);

// Whether a folder of this system holds `name` (one component) as the file it names.
// Windows does not: it opens CON, NUL, COM1 and the other device names (with any
// extension) as devices, drops a trailing dot or blank, reads a colon as a stream, and
// takes none of < > " | ? * or control characters. POSIX holds every name.
bool CanHoldName(const std::string& name);

// A folder held open. Copies share the same open folder.
class Folder {
 public:
  struct Opened;  // What the system holds, as each system realises it.

  Folder() = default;
  explicit Folder(std::shared_ptr<const Opened> opened) : opened_(std::move(opened)) {}

  bool valid() const { return opened_ != nullptr; }
  const std::shared_ptr<const Opened>& opened() const { return opened_; }

 private:
  std::shared_ptr<const Opened> opened_;
};

// Opens the destination folder, creating it and its parents when missing. The caller
// chose this path, so links in it are followed.
Folder OpenDestination(const std::string& path, int& error);

// Walks `folders` below `root`, creating missing ones when `create` is set; `created`
// counts the folders made. A link or file in place of a folder fails the walk.
Folder OpenFolders(const Folder& root, const std::vector<std::string>& folders, bool create,
                   int& error, int& created);

// Folders below the destination that this run has walked, kept open: archives often
// alternate between a few folders, and each walk costs several system calls.
class FolderCache {
 public:
  // As OpenFolders, but the folder stays open in the cache; null on failure.
  const Folder* Open(const Folder& root, const std::vector<std::string>& folders, bool create,
                     int& error, int& created);

 private:
  // Well below the usual limit of 1,024 open files per process.
  static constexpr std::size_t kMaxOpen = 64;
  std::map<std::vector<std::string>, Folder> open_;
};

struct ExistingFile {
  bool exists = false;
  bool is_folder = false;
  std::time_t mtime = 0;
  std::optional<FileMode> mode;  // Of a regular file.
};

// What is at `name` in `folder` now; a link counts as an existing file, never followed.
ExistingFile Inspect(const Folder& folder, const std::string& name);

// A file written under a temporary name in its final folder, so that readers never see
// a half file: Commit renames it into place and anything else removes it.
class PendingFile {
 public:
  explicit PendingFile(const Folder& folder);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  // These return 0 or an error number. On POSIX `mode` is filtered by the process umask.
  int Create(FileMode mode);
  int Write(std::string_view bytes);
  int Commit(const std::string& name, std::optional<std::time_t> mtime);

 private:
  struct Writing;  // The open temporary file, as each system realises it.

  // Creates the file under `name`; `taken` tells that the name is in use, so that
  // Create tries another.
  int CreateNamed(const std::string& name, FileMode mode, bool& taken);

  const Folder& folder_;
  std::unique_ptr<Writing> writing_;
};

}  // namespace kalo::unzip32
