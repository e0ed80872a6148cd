// What a started program inherits, as POSIX systems show it: its descriptors.
#include "platform/processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "helpers/child_processes.h"
#include "helpers/temp_folder.h"
#include "platform/posix/unique_fd.h"

namespace {

using kalo::platform::ProgramOutput;
using kalo::platform::WindowStyle;

// The updater's own open files (its lock, a pipe a script reads it through) must not
// reach the program it hands over to, or the script would wait for that program's end.
TEST(ProcessTable, StartedProgramInheritsOnlyTheStandardStreams) {
  const kalo::test::TempFolder folder;
  const std::string path = folder / "acme.exe";
  kalo::test::CopyTestProgram(path);
  // Descriptors without close-on-exec, which a plain start would hand on.
  const kalo::platform::UniqueFd lock(::open((folder / "lock").c_str(), O_WRONLY | O_CREAT, 0600));
  int pipe_ends[2] = {-1, -1};
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const kalo::platform::UniqueFd reader(pipe_ends[0]);
  const kalo::platform::UniqueFd writer(pipe_ends[1]);
  ASSERT_GT(lock.get(), STDERR_FILENO);
  ASSERT_GT(reader.get(), STDERR_FILENO);

  const auto own_target = [](int descriptor) {
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(descriptor)).string();
  };
  const struct {
    const char* name;
    WindowStyle style;
    ProgramOutput output;
    std::string stdout_target;
    std::string stderr_target;
  } cases[] = {
      {"shared", WindowStyle::kNormalFocus, ProgramOutput::kShared, own_target(STDOUT_FILENO),
       own_target(STDERR_FILENO)},
      {"discarded", WindowStyle::kNormalFocus, ProgramOutput::kDiscarded, "/dev/null", "/dev/null"},
      {"hidden", WindowStyle::kHidden, ProgramOutput::kShared, "/dev/null", "/dev/null"},
  };
  kalo::platform::ProcessTable processes;
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(path + ".started");
    kalo::test::WatchedChild child(processes.Start(path, row.style, row.output));
    ASSERT_TRUE(kalo::test::WaitUntilStarted(path));
    const std::string mark = kalo::test::ReadWholeFile(path + ".started");
    EXPECT_EQ(mark.substr(mark.find('\n') + 1), "descriptors: 0 1 2\nstdout: " + row.stdout_target +
                                                    "\nstderr: " + row.stderr_target + "\n");
    EXPECT_TRUE(processes.Terminate(child.Id()));
    EXPECT_EQ(child.WaitForEnd(), kalo::test::ChildEnd::kTerminated);
  }
}

// The updater's own earlier replacement: the running copy's file is gone, another took
// its place, and the process still counts under the path it was started from.
TEST(ProcessTable, AReplacedProgramKeepsItsPath) {
  const kalo::test::TempFolder folder;
  const std::string path = folder / "acme.exe";
  kalo::test::CopyTestProgram(path);
  kalo::platform::ProcessTable processes;
  const kalo::test::WatchedChild child(processes.Start(path, WindowStyle::kHidden));
  ASSERT_TRUE(kalo::test::WaitUntilStarted(path));
  kalo::test::CopyTestProgram(path + ".new");
  std::filesystem::rename(path + ".new", path);

  const auto snapshot = processes.Snapshot();
  const auto entry = std::ranges::find(snapshot, child.Id(), &kalo::platform::ProcessEntry::id);
  ASSERT_NE(entry, snapshot.end());
  EXPECT_EQ(entry->executable_path, std::filesystem::canonical(path).string());
  EXPECT_EQ(entry->executable_name, "acme.exe");
}

}  // namespace
