// Downloads kept in a file of their own until complete, and put on the disk as they grow.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/internet_transfer_interface.h"

namespace cUpdate {

// A download kept in a file of its own until it is complete, so that a run cut off
// (a failure, a kill, a power cut) leaves what arrived for a later run to continue.
struct KeptDownload {
  std::string path;
  // What an earlier run left in the file: continued when the file still holds that much.
  kalo::platform::ResumePoint held;
  // Told what the file holds each time it is on the disk that far, and once more when
  // the download fails; an offset of 0 says it holds nothing worth continuing.
  std::function<void(const kalo::platform::ResumePoint&)> note;
};

// Puts a kept download on the disk as it grows, on a thread of its own, and tells the
// download's owner how far the file holds: a run cut off (a kill, a power cut) then
// loses little, and the transfer never waits for the disk.
class KeptCheckpoints {
 public:
  // Every this many bytes written, the file is flushed (one flush at a time).
  static constexpr std::uint64_t kEveryBytes = std::uint64_t{8} << 20;

  // Nothing is done without `kept`. Both are borrowed and must outlive this object.
  KeptCheckpoints(const KeptDownload* kept, kalo::platform::AtomicFile& file);
  ~KeptCheckpoints();
  KeptCheckpoints(const KeptCheckpoints&) = delete;
  KeptCheckpoints& operator=(const KeptCheckpoints&) = delete;

  // What identifies the body that arrives, from its first byte or from the file's end.
  void Identified(const kalo::platform::ResumePoint& point);
  // Called after each write.
  void Wrote();
  // Called before the file is emptied: no flush in flight may record its old length.
  void Restarting();
  // Waits for the flush in flight: called before the file is closed.
  void Settle();
  // Records what the file holds now, after a failure, once the flush in flight is done;
  // when even that fails, the next run fetches the file again, which costs only bytes.
  void Keep() noexcept;

 private:
  bool Continuable() const { return !point_.validator.empty() && point_.total.has_value(); }
  void WaitUntilIdle(std::unique_lock<std::mutex>& lock);
  void Checkpoint(const kalo::platform::ResumePoint& point);
  void Work();

  const KeptDownload* kept_;
  kalo::platform::AtomicFile& file_;
  // The last checkpoint asked for; only the writing thread touches it, the worker gets
  // copies through `pending_`.
  kalo::platform::ResumePoint point_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<kalo::platform::ResumePoint> pending_;
  bool stopping_ = false;
  std::thread worker_;  // last: started once everything it uses exists
};

}  // namespace cUpdate
