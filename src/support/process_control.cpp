#include "support/process_control.h"

#include <algorithm>
#include <vector>

#include "support/text.h"

namespace cUpdate {
bool KillProcess(kalo::platform::ProcessTable& processes, const std::string& executable_name,
                 std::int32_t leave_running) {
  const std::string wanted = LowerCase(TrimBlanks(executable_name));
  // Both walks go over one snapshot, so they see the same processes in the same order.
  const std::vector<kalo::platform::ProcessEntry> snapshot = processes.Snapshot();
  // A process whose executable could not be named is never taken for the wanted one.
  const auto matches = [&wanted](const kalo::platform::ProcessEntry& entry) {
    return !entry.executable_name.empty() && LowerCase(entry.executable_name) == wanted;
  };

  auto count = std::ranges::count_if(snapshot, matches);
  bool requested = false;
  for (const auto& entry : snapshot) {
    if (!matches(entry)) {
      continue;
    }
    --count;
    if (count >= leave_running) {
      processes.Terminate(entry.id);
      requested = true;
    }
  }
  return requested;
}

}  // namespace cUpdate
