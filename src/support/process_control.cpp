#include "support/process_control.h"

#include <algorithm>
#include <vector>

#include "platform/paths.h"
#include "support/text.h"

namespace cUpdate {
bool KillProcess(kalo::platform::ProcessTable& processes, const std::string& install_folder,
                 const std::string& executable_name, std::int32_t leave_running) {
  const std::string wanted = LowerCase(TrimBlanks(executable_name));
  // A process whose executable could not be named is never taken for the wanted one,
  // and one whose path could not be read may run from anywhere, so it is left alone.
  const auto matches = [&](const kalo::platform::ProcessEntry& entry) {
    return !entry.executable_name.empty() && LowerCase(entry.executable_name) == wanted &&
           !entry.executable_path.empty() &&
           kalo::platform::IsSameFolder(kalo::platform::FolderOf(entry.executable_path),
                                        install_folder);
  };
  std::vector<kalo::platform::ProcessId> matching;
  for (const auto& entry : processes.Snapshot()) {
    if (matches(entry)) {
      matching.push_back(entry.id);
    }
  }
  const std::size_t spared =
      std::min(matching.size(), static_cast<std::size_t>(std::max(leave_running, 0)));
  const std::size_t ended = matching.size() - spared;
  for (std::size_t i = 0; i < ended; ++i) {
    processes.Terminate(matching[i]);
  }
  return ended > 0;
}

}  // namespace cUpdate
