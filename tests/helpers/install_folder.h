// Helpers for tests that work on a real install folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "helpers/child_processes.h"
#include "helpers/temp_folder.h"
#include "helpers/wait_for.h"
#include "platform/paths.h"
#include "platform/processes.h"

namespace kalo::test {

// Puts our two built libraries into `folder` under their installed names, so that a
// run needs no provisioning.
inline void InstallArchiveLibraries(const std::string& folder) {
  std::filesystem::copy_file(KALO_UNZIP32_LIBRARY,
                             FromUtf8(platform::PathInFolder(folder, "unzip32.dll")));
  std::filesystem::copy_file(KALO_ZIP32_LIBRARY,
                             FromUtf8(platform::PathInFolder(folder, "zip32.dll")));
}

// Ends the copy of the test program at `program` that the code under test started, by
// the process id it left in its mark, and waits (five seconds at most) until it has gone.
inline void EndStartedProgram(const std::string& program) {
  if (std::filesystem::exists(FromUtf8(program + ".started"))) {
    const platform::ProcessId id = StartedProcessId(program);
    platform::ProcessTable().Terminate(id);
    WaitFor([id] { return !IsRunning(id); }, std::chrono::seconds(5));
  }
}

// True when the install folder's hidden folder holds the file of a download under way
// (or kept from a run cut off).
inline bool HoldsKeptDownload(const std::string& install_folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(
           FromUtf8(platform::PathInFolder(install_folder, ".kalo_upd")), error)) {
    if (entry.path().filename().string().starts_with("partial-")) {
      return true;
    }
  }
  return false;
}

}  // namespace kalo::test
