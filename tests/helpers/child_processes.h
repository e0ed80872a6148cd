// Copies of the test program started as real child processes, and their end.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "helpers/temp_folder.h"
#include "helpers/wait_for.h"
#include "platform/processes.h"

namespace kalo::test {

// Copies the test program to `path` under a name of the test's choosing.
inline void CopyTestProgram(const std::string& path) {
  std::filesystem::copy_file(KALO_TEST_PROGRAM, FromUtf8(path),
                             std::filesystem::copy_options::overwrite_existing);
}

// Waits (five seconds at most) until the program at `path` has started and left its
// mark.
inline bool WaitUntilStarted(const std::string& path) {
  return WaitFor([&path] { return std::filesystem::exists(FromUtf8(path + ".started")); },
                 std::chrono::seconds(5));
}

// The process id that the test program at `path` wrote into its mark.
inline platform::ProcessId StartedProcessId(const std::string& path) {
  return std::stoll(ReadWholeFile(path + ".started"));
}

// How a watched child ended, as far as the tests can tell.
enum class ChildEnd {
  kStillRunning,  // it had not ended when the wait gave up
  kTerminated,    // ProcessTable::Terminate ended it
  kOtherwise,     // it ended by itself, or something else ended it
};

// A child process of this one, watched from (just after) its start. The watch keeps
// hold of the child, so that its end can still be told once it is over: a Windows
// process leaves nothing to ask once it has ended and nobody holds it. A child still
// running when its watch ends is terminated, so a failed test leaves nothing running.
class WatchedChild {
 public:
  explicit WatchedChild(platform::ProcessId id);
  WatchedChild(WatchedChild&& other) noexcept
      : id_(other.id_), hold_(std::exchange(other.hold_, kNoHold)), end_(other.end_) {}
  WatchedChild& operator=(WatchedChild&&) = delete;
  WatchedChild(const WatchedChild&) = delete;
  WatchedChild& operator=(const WatchedChild&) = delete;
  ~WatchedChild() {
    if (hold_ != kNoHold && WaitForEnd(std::chrono::milliseconds(0)) == ChildEnd::kStillRunning) {
      platform::ProcessTable().Terminate(id_);
      WaitForEnd();
    }
    Release();
  }

  platform::ProcessId Id() const { return id_; }

  // Waits up to `limit` for the child to end; the child is collected once it has, and
  // later calls give the same answer.
  ChildEnd WaitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(5));

 private:
  static constexpr std::intptr_t kNoHold = -1;

  // Lets go of the child without waiting for it.
  void Release();

  platform::ProcessId id_;
  std::intptr_t hold_ = kNoHold;  // the system's handle on the child until it is collected
  ChildEnd end_ = ChildEnd::kStillRunning;
};

// Whether the process is running now. It is not collected if it has ended.
bool IsRunning(platform::ProcessId id);

// For the tests that run on POSIX systems only: waits for the child to end and
// collects it; the signal that ended it, if any.
std::optional<int> CollectChild(platform::ProcessId id);

}  // namespace kalo::test
