// A standard stream counts as a terminal when a real pseudo-terminal stands in its
// place, and not when a pipe or a file does.
#include "platform/standard_streams.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

#include "helpers/temp_folder.h"
#include "platform/posix/unique_fd.h"

namespace {

using kalo::platform::StandardStream;
using kalo::platform::UniqueFd;

// Whether `which` is a terminal while `stand_in` takes the place of its descriptor.
bool IsTerminalWith(StandardStream which, int stand_in) {
  const int target = which == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  // What the test runner wrote so far goes out where it belongs.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const UniqueFd kept(::dup(target));
  EXPECT_TRUE(kept);
  EXPECT_EQ(::dup2(stand_in, target), target);
  const bool terminal = kalo::platform::IsTerminal(which);
  ::dup2(kept.get(), target);
  return terminal;
}

TEST(StandardStreamsOnPosix, APseudoTerminalIsATerminalAPipeOrAFileIsNot) {
  int controller = -1;
  int terminal = -1;
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  const UniqueFd controller_end(controller);
  const UniqueFd terminal_end(terminal);
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const UniqueFd read_end(pipe_ends[0]);
  const UniqueFd write_end(pipe_ends[1]);
  const kalo::test::TempFolder folder;
  const UniqueFd file(::open((folder / "out.txt").c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_TRUE(file);

  for (const StandardStream which : {StandardStream::kOutput, StandardStream::kError}) {
    EXPECT_TRUE(IsTerminalWith(which, terminal_end.get()));
    EXPECT_FALSE(IsTerminalWith(which, write_end.get()));
    EXPECT_FALSE(IsTerminalWith(which, file.get()));
  }
}

}  // namespace
