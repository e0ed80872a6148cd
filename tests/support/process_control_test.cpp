#include "support/process_control.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <vector>

#include "helpers/child_processes.h"
#include "helpers/temp_folder.h"

namespace {

using kalo::platform::ProcessId;
using kalo::platform::WindowStyle;

class KillProcessTest : public testing::Test {
 protected:
  // Starts `count` copies of the test program, all named `name`.
  std::vector<ProcessId> StartCopies(const std::string& name, int count) {
    std::vector<ProcessId> ids;
    for (int i = 0; i < count; ++i) {
      const std::string path = folder_ / (std::to_string(i) + "/" + name);
      std::filesystem::create_directory(folder_ / std::to_string(i));
      kalo::test::CopyTestProgram(path);
      ids.push_back(processes_.Start(path, WindowStyle::kHidden));
      EXPECT_TRUE(kalo::test::WaitUntilStarted(path));
      started_.push_back(ids.back());
    }
    return ids;
  }

  ~KillProcessTest() override {
    for (ProcessId id : started_) {
      ::kill(static_cast<pid_t>(id), SIGKILL);
      kalo::test::CollectChild(id);
    }
  }

  kalo::test::TempFolder folder_;
  kalo::platform::ProcessTable processes_;
  std::vector<ProcessId> started_;
};

TEST_F(KillProcessTest, EndsEveryCopyWhateverTheCaseAndBlanks) {
  const std::string name = "victim-" + std::to_string(::getpid()) + ".exe";
  const auto victims = StartCopies(name, 2);
  const auto bystanders = StartCopies("bystander-" + std::to_string(::getpid()) + ".exe", 1);

  std::string wanted = "  " + name + " ";
  std::ranges::transform(wanted, wanted.begin(), ::toupper);
  EXPECT_TRUE(cUpdate::KillProcess(processes_, wanted, 0));

  for (ProcessId id : victims) {
    EXPECT_EQ(kalo::test::CollectChild(id), SIGKILL);
  }
  EXPECT_TRUE(kalo::test::IsRunning(bystanders[0]));
}

TEST_F(KillProcessTest, LeavesTheLastMatchesRunning) {
  const std::string name = "spared-" + std::to_string(::getpid()) + ".exe";
  auto ids = StartCopies(name, 3);
  EXPECT_TRUE(cUpdate::KillProcess(processes_, name, 1));
  // The snapshot lists processes by id, so the one left is the highest.
  std::ranges::sort(ids);
  EXPECT_EQ(kalo::test::CollectChild(ids[0]), SIGKILL);
  EXPECT_EQ(kalo::test::CollectChild(ids[1]), SIGKILL);
  EXPECT_TRUE(kalo::test::IsRunning(ids[2]));
}

TEST_F(KillProcessTest, NothingToEnd) {
  const std::string name = "alone-" + std::to_string(::getpid()) + ".exe";
  const auto ids = StartCopies(name, 2);
  EXPECT_FALSE(cUpdate::KillProcess(processes_, name, 2));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, name, 5));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, "no-such-program.exe", 0));
  // Processes whose name is unknown must never be taken for an empty wanted name.
  EXPECT_FALSE(cUpdate::KillProcess(processes_, "   ", 0));
  for (ProcessId id : ids) {
    EXPECT_TRUE(kalo::test::IsRunning(id));
  }
}

}  // namespace
