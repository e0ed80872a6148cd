// Runs one of our programs as a real child process with its own environment, and
// collects its exit status and output.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "helpers/temp_folder.h"

extern "C" char** environ;

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

// Starts a program without waiting for it: `arguments` from the program itself on,
// our environment plus `extra_environment`, standard output into `output_file` when
// one is given. Answers the process id, or -1.
inline pid_t StartProgram(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extra_environment,
                          const std::string& output_file = {}) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extra_environment.begin(), extra_environment.end());
  std::vector<char*> argv, envp;
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  for (const auto& setting : environment) {
    envp.push_back(const_cast<char*>(setting.c_str()));
  }
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t id = 0;
  const int result = ::posix_spawnp(&id, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return result == 0 ? id : -1;
}

// Polls `done` every 50 ms for up to `limit`.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit) {
  using namespace std::chrono_literals;
  for (auto waited = 0ms; waited < limit; waited += 50ms) {
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

}  // namespace kalo::test
