#include "support/process_control.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace cUpdate {
namespace {

std::string LowerCase(std::string text) {
  std::ranges::transform(text, text.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

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
