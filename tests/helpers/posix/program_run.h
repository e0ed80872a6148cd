// Runs one of our programs as a real child process with its own environment, and
// collects its exit status and output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "helpers/temp_folder.h"
#include "helpers/wait_for.h"

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

// Our environment with `extra` (NAME=value entries) in place of the entries of the
// same names: a program reads the first entry of a name, so an inherited one would win.
inline std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view setting(*entry);
    const std::string_view name = setting.substr(0, setting.find('='));
    const bool replaced = std::ranges::any_of(extra, [name](const std::string& added) {
      return added.size() > name.size() && added.starts_with(name) && added[name.size()] == '=';
    });
    if (!replaced) {
      environment.emplace_back(setting);
    }
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  return environment;
}

// Starts `arguments` (from the program itself on) with `actions` applied in the child.
// Answers the process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& extra_environment,
                   const posix_spawn_file_actions_t& actions) {
  const std::vector<std::string> environment = EnvironmentWith(extra_environment);
  std::vector<char*> argv, envp;
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  for (const auto& setting : environment) {
    envp.push_back(const_cast<char*>(setting.c_str()));
  }
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t id = 0;
  const int result = ::posix_spawnp(&id, argv[0], &actions, nullptr, argv.data(), envp.data());
  return result == 0 ? id : -1;
}

// Starts a program without waiting for it: `arguments` from the program itself on,
// our environment plus `extra_environment`, standard output into `output_file` when
// one is given. Answers the process id, or -1.
inline pid_t StartProgram(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extra_environment,
                          const std::string& output_file = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  const pid_t id = Spawn(arguments, extra_environment, actions);
  posix_spawn_file_actions_destroy(&actions);
  return id;
}

struct PipedProgramResult : ProgramResult {
  // False when the output was still open at the limit: the program, or something it
  // left running, held it. The program is killed then.
  bool output_closed = false;
};

// Runs a program like StartProgram with its standard output on a pipe (its standard
// error into `error_file`) and reads the output to its end, for at most `limit`. The
// end comes only when every process holding the pipe has let go of it, so a program
// that leaves a child with its output shows here.
inline PipedProgramResult RunProgramThroughPipe(const std::vector<std::string>& arguments,
                                                const std::vector<std::string>& extra_environment,
                                                const std::string& error_file,
                                                std::chrono::milliseconds limit) {
  PipedProgramResult result;
  int out_pipe[2] = {-1, -1};
  // Close-on-exec, so that only the copy the child gets as its output stays open there.
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t id = Spawn(arguments, extra_environment, actions);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);  // ours would keep the pipe open for ever

  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (pollfd polled{out_pipe[0], POLLIN, 0}; id > 0;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || ::poll(&polled, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    char buffer[4096];
    const ssize_t got = ::read(out_pipe[0], buffer, sizeof buffer);
    if (got <= 0) {
      result.output_closed = got == 0;
      break;
    }
    result.out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out_pipe[0]);
  if (id > 0) {
    if (!result.output_closed) {
      ::kill(id, SIGKILL);
    }
    int status = 0;
    ::waitpid(id, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadWholeFile(error_file);
  }
  return result;
}

}  // namespace kalo::test
