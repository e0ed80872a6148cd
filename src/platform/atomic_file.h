// A file written under a temporary name beside its target and renamed into place
// only when complete, so that the target is never seen half written. Unless asked, it
// is not flushed to the disk before the rename: every file the updater writes is checked
// again on the next run (by length or version), so a file lost to a power cut is
// fetched again, and skipping the flush keeps downloads at the network's speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kalo::platform {

class AtomicFile {
 public:
  // Creates the temporary file; throws when the target's folder cannot take it.
  explicit AtomicFile(std::string target);
  // Continues the file `kept`, made when missing, whose first `held` bytes an earlier
  // writer left there, so that a download cut off can go on in another run: bytes past
  // `held` are dropped, and a file shorter than `held` starts again empty (Length says
  // which). A link, a file with a second name or anything but an ordinary file there is
  // refused. Unlike a temporary file it stays where it is when not committed.
  AtomicFile(std::string target, std::string kept, std::uint64_t held);
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  // Removes the temporary file unless it was committed or is a kept one.
  ~AtomicFile();

  void Write(std::span<const std::byte> bytes);
  // Drops everything written so far; the next write starts the file again.
  void Discard();

  // How many bytes the file holds.
  std::uint64_t Length() const { return length_; }
  // Hands over the bytes the file holds, in pieces (the part an earlier writer left must
  // be hashed with the rest).
  void ReadBack(const std::function<void(std::span<const std::byte>)>& take);

  // Puts what was written on the disk, for a file that must survive a power cut once
  // committed. Throws on failure.
  void Flush();

  // Puts the complete file in place of the target. Throws on failure.
  void Commit(FilePermissions permissions);

  // Puts the complete file at the target's name only if nothing stands there yet, for a
  // file that must never be replaced. Throws an error numbered kFileAlreadyExists when
  // something does, leaving it as it was; throws on any other failure.
  void CommitNew(FilePermissions permissions);

 private:
  // Closes the temporary file with its permissions and gives it the target's name,
  // replacing what stands there only when `replace`.
  void Install(FilePermissions permissions, bool replace);

  // The target's name and a suffix ending in six X, which stand for the letters and
  // digits that tell one writer's temporary file from another's (as mkstemp takes it).
  static std::string TemporaryTemplate(const std::string& target);

  std::string target_;
  std::string temporary_;
  std::intptr_t handle_ = -1;  // the system's handle of the open temporary file
  std::uint64_t length_ = 0;
  bool kept_ = false;  // the temporary file outlives this object
};

// True when `name` (without folder) is the temporary name of an AtomicFile, as one
// left behind by a process that was killed while writing.
bool IsAtomicFileTemporary(std::string_view name);

}  // namespace kalo::platform
