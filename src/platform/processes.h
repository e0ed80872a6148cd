// Running processes: list, terminate, start, and the end of the own process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalo::platform {

using ProcessId = std::int64_t;

struct ProcessEntry {
  ProcessId id = 0;
  std::string executable_name;  // file name without folder; empty when unknown
  // The executable's full path; empty when it cannot be read (no right to ask, gone).
  std::string executable_path;
};

// How a started program shows itself.
enum class WindowStyle : int {
  kHidden = 0,       // no window; its standard streams go nowhere
  kNormalFocus = 1,  // a normal window that gets the focus
};

// Where a started program's standard output and error go: shared with this process,
// or nowhere (its standard input stays as it is).
enum class ProgramOutput { kShared, kDiscarded };

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;

  // The processes running now, in a stable order.
  virtual std::vector<ProcessEntry> Snapshot() const;

  // Asks the system to end the process at once. False when the request was refused
  // (the process is gone, or we may not end it).
  virtual bool Terminate(ProcessId id);

  // Starts the program at `path` without arguments and without waiting for it; the
  // path is passed as one argument, blanks and all. It inherits only the standard
  // streams, none of this process's other open files. A hidden program's streams go
  // nowhere whatever `output` says. Throws when it cannot be started.
  virtual ProcessId Start(const std::string& path, WindowStyle style,
                          ProgramOutput output = ProgramOutput::kShared);
};

// Ends this process at once with `exit_status`, after flushing the standard streams.
[[noreturn]] void EndOwnProcess(int exit_status);

}  // namespace kalo::platform
