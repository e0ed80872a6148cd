// Copies of the test program started as real child processes, and their end.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/processes.h"

namespace kalo::test {

// Copies the test program to `path` under a name of the test's choosing.
inline void CopyTestProgram(const std::string& path) {
  std::filesystem::copy_file(KALO_TEST_PROGRAM, path,
                             std::filesystem::copy_options::overwrite_existing);
}

// Waits (a few milliseconds at a time, five seconds at most) until the program at
// `path` has started and left its mark.
inline bool WaitUntilStarted(const std::string& path) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (std::filesystem::exists(path + ".started")) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Collects a child that has ended; the signal that ended it, if any.
inline std::optional<int> CollectChild(platform::ProcessId id) {
  int status = 0;
  if (::waitpid(static_cast<pid_t>(id), &status, 0) != static_cast<pid_t>(id)) {
    return std::nullopt;
  }
  return WIFSIGNALED(status) ? std::optional<int>(WTERMSIG(status)) : std::nullopt;
}

// Whether the child is still running, without waiting for it.
inline bool IsRunning(platform::ProcessId id) {
  int status = 0;
  return ::waitpid(static_cast<pid_t>(id), &status, WNOHANG) == 0;
}

}  // namespace kalo::test
