#include "platform/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "platform/paths.h"
#include "platform/posix/unique_fd.h"
#include "platform/system_error.h"

extern char** environ;

namespace kalo::platform {
namespace {

std::optional<ProcessId> ProcessIdOf(const char* name) {
  ProcessId id = 0;
  const char* end = name + std::char_traits<char>::length(name);
  const auto [last, error] = std::from_chars(name, end, id);
  if (error != std::errc{} || last != end || id <= 0) {
    return std::nullopt;
  }
  return id;
}

// The executable's full path, from the link to it; empty where we may not read that link.
std::string ExecutablePathOf(const std::string& process_folder) {
  std::string target(4096, '\0');
  const ssize_t length =
      ::readlink(PathInFolder(process_folder, "exe").c_str(), target.data(), target.size() - 1);
  if (length <= 0) {
    return {};
  }
  target.resize(static_cast<std::size_t>(length));
  // A program whose file was replaced while it ran still counts under its path.
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.ends_with(kDeleted)) {
    target.resize(target.size() - kDeleted.size());
  }
  return target;
}

// The executable's file name: from its path, or, where we may not read that, from the
// first word of the command line.
std::string ExecutableNameOf(const std::string& process_folder, const std::string& path) {
  if (!path.empty()) {
    return FileNameOf(path);
  }
  std::ifstream command_line(PathInFolder(process_folder, "cmdline"), std::ios::binary);
  std::string first_argument;
  std::getline(command_line, first_argument, '\0');
  return FileNameOf(first_argument);
}

ProcessEntry EntryOf(ProcessId id, const std::string& process_folder) {
  std::string path = ExecutablePathOf(process_folder);
  std::string name = ExecutableNameOf(process_folder, path);
  return {id, std::move(name), std::move(path)};
}

class SpawnFileActions {
 public:
  SpawnFileActions() { ::posix_spawn_file_actions_init(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

// The standard streams of a started program that go to /dev/null.
std::span<const int> SilencedStreams(WindowStyle style, ProgramOutput output) {
  static constexpr int kStreams[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  if (style == WindowStyle::kHidden) {
    return kStreams;
  }
  if (output == ProgramOutput::kDiscarded) {
    return std::span(kStreams).subspan(1);
  }
  return {};
}

}  // namespace

std::vector<ProcessEntry> ProcessTable::Snapshot() const {
  std::vector<ProcessEntry> processes;
  UniqueDir proc(::opendir("/proc"));
  if (!proc) {
    return processes;
  }
  while (const dirent* entry = ::readdir(proc.get())) {
    if (const auto id = ProcessIdOf(entry->d_name)) {
      processes.push_back(EntryOf(*id, PathInFolder("/proc", entry->d_name)));
    }
  }
  std::ranges::sort(processes, {}, &ProcessEntry::id);
  return processes;
}

bool ProcessTable::Terminate(ProcessId id) {
  return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

ProcessId ProcessTable::Start(const std::string& path, WindowStyle style, ProgramOutput output) {
  SpawnFileActions actions;
  for (int stream : SilencedStreams(style, output)) {
    ::posix_spawn_file_actions_addopen(actions.get(), stream, "/dev/null",
                                       stream == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  // Our open files, sockets and pipes must not live on in the product: a reader of our
  // pipe would wait for the product's end, and a lock we hold would outlive us.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
  // A session of its own, so that the started program outlives the updater's terminal.
  SpawnAttributes attributes;
  ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSID);

  std::string program = path;
  char* arguments[] = {program.data(), nullptr};
  pid_t id = 0;
  const int result =
      ::posix_spawn(&id, path.c_str(), actions.get(), attributes.get(), arguments, environ);
  if (result != 0) {
    throw SystemError(result, "Não foi possível executar " + path, "ProcessTable::Start");
  }
  return id;
}

void EndOwnProcess(int exit_status) {
  std::fflush(nullptr);
  ::_exit(exit_status);
}

}  // namespace kalo::platform
