#include "helpers/child_processes.h"

#include <signal.h>
#include <sys/wait.h>

namespace kalo::test {

// A child stays in the process table until it is collected: its id is all the hold needed.
WatchedChild::WatchedChild(platform::ProcessId id) : id_(id), hold_(id) {}

ChildEnd WatchedChild::WaitForEnd(std::chrono::milliseconds limit) {
  const auto collected = [this] {
    int status = 0;
    if (hold_ != kNoHold && ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG) != 0) {
      const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
      end_ = killed ? ChildEnd::kTerminated : ChildEnd::kOtherwise;
      hold_ = kNoHold;
    }
    return hold_ == kNoHold;
  };
  WaitFor(collected, limit);
  return end_;
}

// A child that is never collected is collected by the system when the tests end.
void WatchedChild::Release() {
  hold_ = kNoHold;
}

bool IsRunning(platform::ProcessId id) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(id), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

std::optional<int> CollectChild(platform::ProcessId id) {
  int status = 0;
  if (::waitpid(static_cast<pid_t>(id), &status, 0) != static_cast<pid_t>(id)) {
    return std::nullopt;
  }
  return WIFSIGNALED(status) ? std::optional<int>(WTERMSIG(status)) : std::nullopt;
}

}  // namespace kalo::test
