// Ending the running copies of a program before its file is replaced.
#pragma once

#include <cstdint>
#include <string>

#include "platform/processes.h"

namespace cUpdate {

// Terminates the processes run from a file directly in `install_folder` whose file name
// equals `executable_name` (blanks at its ends and letter case do not matter), leaving
// the last `leave_running` of them, in snapshot order, alone. Copies run from anywhere
// else are another installation's. True when at least one termination was requested;
// the requests are not awaited.
bool KillProcess(kalo::platform::ProcessTable& processes, const std::string& install_folder,
                 const std::string& executable_name, std::int32_t leave_running);

}  // namespace cUpdate
