// Helpers for tests that work on a real install folder.
#pragma once

#include <signal.h>

#include <filesystem>
#include <string>

#include "helpers/temp_folder.h"

namespace kalo::test {

// Puts our two built libraries into `folder` under their installed names, so that a
// run needs no provisioning.
inline void InstallArchiveLibraries(const std::string& folder) {
  std::filesystem::copy_file(KALO_UNZIP32_LIBRARY, folder + "/unzip32.dll");
  std::filesystem::copy_file(KALO_ZIP32_LIBRARY, folder + "/zip32.dll");
}

// Ends the copy of the test program at `program` that someone else started, by the
// process id it left in its mark.
inline void EndStartedProgram(const std::string& program) {
  const std::string mark = program + ".started";
  if (std::filesystem::exists(mark)) {
    ::kill(static_cast<pid_t>(std::stoll(ReadWholeFile(mark))), SIGKILL);
  }
}

}  // namespace kalo::test
