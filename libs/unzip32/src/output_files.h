// The file-system side of extraction. Everything below the destination folder is reached
// through folder descriptors and never through a symbolic link, so that no link, whether
// made earlier or by someone else, can lead a write outside the destination.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kalo::unzip32 {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports the error that a late write failure shows only here.
  int Close();

 private:
  int fd_ = -1;
};

// Opens the destination folder, creating it and its parents when missing. The caller
// chose this path, so links in it are followed. `error` gets an errno value on failure.
Fd OpenDestination(const std::string& path, int& error);

// Walks `folders` below `root`, creating missing ones when `create` is set; `created`
// counts the folders made. A link or file in place of a folder fails with ELOOP or ENOTDIR.
Fd OpenFolders(int root, const std::vector<std::string>& folders, bool create, int& error,
               int& created);

// Folders below the destination that this run has walked, kept open: archives often
// alternate between a few folders, and each walk costs several system calls.
class FolderCache {
 public:
  // As OpenFolders, but the folder stays open in the cache; -1 on failure.
  int Open(int root, const std::vector<std::string>& folders, bool create, int& error,
           int& created);

 private:
  // Well below the usual limit of 1,024 open files per process.
  static constexpr std::size_t kMaxOpen = 64;
  std::map<std::vector<std::string>, Fd> open_;
};

struct ExistingFile {
  bool exists = false;
  bool is_folder = false;
  std::time_t mtime = 0;
  std::optional<mode_t> mode;  // The permission bits (0777) of a regular file.
};

// What is at `name` in `folder` now; a link counts as an existing file, never followed.
ExistingFile Inspect(int folder, const std::string& name);

// A file written under a temporary name in its final folder, so that readers never see
// a half file: Commit renames it into place and anything else removes it.
class PendingFile {
 public:
  explicit PendingFile(int folder) : folder_(folder) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  // These return 0 or an errno value. `mode` is filtered by the process umask.
  int Create(mode_t mode);
  int Write(std::string_view bytes);
  int Commit(const std::string& name, std::optional<std::time_t> mtime);

 private:
  int folder_;
  std::string temp_name_;
  Fd fd_;
};

}  // namespace kalo::unzip32
