// File-system services. Member functions are virtual so that tests can inject
// faults (a file that will not go away, a full disk) around the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/error.h"

namespace kalo::platform {

// kLink (a symbolic link, a junction or another reparse point) only from OwnKindOf.
enum class EntryKind { kFile, kFolder, kOther, kLink };

// kOwnerOnly: read and write for the file's owner alone. Windows has no modes: there every
// file keeps the access its folder hands down, and any file may be run.
enum class FilePermissions { kData, kExecutable, kOwnerOnly };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Searches for an ordinary file: folders, hidden files and special files never match
  // (hidden: on POSIX a name starting with a dot, on Windows the hidden or system
  // attribute; special: devices, and on Windows links). The last component of `pattern`
  // may hold the wildcards * and ?; names compare as the system compares them, without
  // regard to case on Windows. Answers the name found, without folder, the first in
  // order when several match; nothing when no file matches. Throws when the search
  // itself fails (for example a folder it may not read).
  virtual std::optional<std::string> FindFile(const std::string& pattern) const;

  // What stands at `path` (following links); nothing when the path names nothing.
  virtual std::optional<EntryKind> KindOf(const std::string& path) const;

  // What stands at `path` itself, a link never followed: kLink for a symbolic link, a
  // junction or another reparse point; nothing when the path names nothing.
  virtual std::optional<EntryKind> OwnKindOf(const std::string& path) const;

  // The length in bytes of the file at `path`. Throws when it cannot be read.
  virtual std::uint64_t FileLength(const std::string& path) const;

  // Throws when the file cannot be removed.
  virtual void RemoveFile(const std::string& path);

  // Puts what was written to the file at `path` on the disk, so that a name given to it
  // afterwards never stands for bytes a power cut could still lose. Throws on failure.
  virtual void FlushFile(const std::string& path);

  // Renames `from` to `to`, replacing a file already at `to`. Throws on failure.
  virtual void RenameFile(const std::string& from, const std::string& to);

  // The names of everything in `folder`, hidden ones included, in no set order.
  // Throws when the folder cannot be read.
  virtual std::vector<std::string> ListFolder(const std::string& folder) const;

  // The bytes an ordinary user may still write on the file system that holds `path`.
  // Throws when it cannot be asked.
  virtual std::uint64_t FreeSpace(const std::string& path) const;

  // The whole content of a file. Throws when it cannot be read.
  virtual std::string ReadFile(const std::string& path) const;

  // Hands the content of the file at `path` to `take` piece by piece, from start to end,
  // so that a file of any size takes little memory. Throws when it cannot be read.
  virtual void ReadFileInPieces(const std::string& path,
                                const std::function<void(std::span<const std::byte>)>& take) const;

  // The whole content of the file at `path` itself: when `path` is a link it throws
  // LinkRefused and never reads what the link leads to. Throws when it cannot be read.
  virtual std::string ReadFileNoFollow(const std::string& path) const;

  // Adds `bytes` at the end of the file at `path` itself, creating it when missing, and
  // answers the file's length after. A link there (symbolic or hard, a junction or
  // another reparse point) throws LinkRefused and is never written through, and anything
  // but an ordinary file is refused: the file may lie where other users can write.
  // Throws on failure.
  virtual std::uint64_t AppendToFile(const std::string& path, std::span<const std::byte> bytes);

  // Creates one folder level; the parent must exist. Throws on failure.
  virtual void CreateFolder(const std::string& path);

  // Writes `bytes` to a temporary file beside `path` and renames it into place, so
  // that `path` is either absent or complete. Throws on failure.
  virtual void WriteFileAtomically(const std::string& path, std::span<const std::byte> bytes,
                                   FilePermissions permissions);

  // Copies the file at `from`, piece by piece, to a temporary file beside `to`, puts it
  // on the disk and renames it into place, so that `to` is either as it was or a
  // complete copy, even after a power cut. Throws on failure.
  virtual void CopyFileAtomically(const std::string& from, const std::string& to,
                                  FilePermissions permissions);

 private:
  // The system's reading of a file in pieces; a link is followed only when `follow_links`,
  // else refused with LinkRefused.
  static void ReadPieces(const std::string& path, bool follow_links,
                         const std::function<void(std::span<const std::byte>)>& take);
  static std::string ReadWhole(const std::string& path, bool follow_links);
};

}  // namespace kalo::platform
