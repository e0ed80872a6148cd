// Runs one of our programs as a real child process with its own environment, and
// collects its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "helpers/temp_folder.h"

namespace kalo::test {

struct ProgramResult {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` under `environment` (NAME=value entries added to
// ours), waiting for it to end. The output goes through files in `scratch`.
inline ProgramResult RunProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment,
                                const TempFolder& scratch) {
  const auto quoted = [](const std::string& text) {
    std::string result = "'";
    for (char c : text) {
      result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
  };
  std::string command = "env";
  for (const auto& setting : environment) {
    command += " " + quoted(setting);
  }
  command += " " + quoted(program);
  for (const auto& argument : arguments) {
    command += " " + quoted(argument);
  }
  command +=
      " >" + quoted(scratch / "out.txt") + " 2>" + quoted(scratch / "err.txt") + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(scratch / "out.txt"),
          ReadWholeFile(scratch / "err.txt")};
}

}  // namespace kalo::test
