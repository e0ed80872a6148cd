#include "helpers/child_processes.h"

#include "win32/handle.h"

namespace kalo::test {
namespace {

// The exit code that ProcessTable::Terminate gives the processes it ends.
constexpr DWORD kTerminatedExitCode = 1;

HANDLE HandleOf(std::intptr_t hold) {
  return reinterpret_cast<HANDLE>(hold);
}

}  // namespace

WatchedChild::WatchedChild(platform::ProcessId id) : id_(id) {
  const HANDLE process =
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) {
    end_ = ChildEnd::kOtherwise;  // gone already, by whatever means
  } else {
    hold_ = reinterpret_cast<std::intptr_t>(process);
  }
}

ChildEnd WatchedChild::WaitForEnd(std::chrono::milliseconds limit) {
  if (hold_ != kNoHold &&
      ::WaitForSingleObject(HandleOf(hold_), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    const bool known = ::GetExitCodeProcess(HandleOf(hold_), &exit_code) != 0;
    end_ = known && exit_code == kTerminatedExitCode ? ChildEnd::kTerminated : ChildEnd::kOtherwise;
    Release();
  }
  return end_;
}

void WatchedChild::Release() {
  if (hold_ != kNoHold) {
    ::CloseHandle(HandleOf(std::exchange(hold_, kNoHold)));
  }
}

bool IsRunning(platform::ProcessId id) {
  const win32::Handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  return process.valid() && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace kalo::test
