#include "support/process_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "helpers/child_processes.h"
#include "helpers/temp_folder.h"

namespace {

using kalo::platform::WindowStyle;
using kalo::test::ChildEnd;
using kalo::test::IsRunning;
using kalo::test::WatchedChild;

class KillProcessTest : public testing::Test {
 protected:
  // A program name no other test uses, since every process of that name counts.
  std::string UniqueName(const std::string& role) const {
    return role + "-" + folder_.Path().filename().string() + ".exe";
  }

  // Starts `count` copies of the test program, all named `name`, each in a folder of
  // its own.
  std::vector<WatchedChild> StartCopies(const std::string& name, int count) {
    std::vector<WatchedChild> copies;
    for (int i = 0; i < count; ++i) {
      const std::string folder = std::to_string(folders_++);
      std::filesystem::create_directory(folder_.Path() / folder);
      const std::string path = folder_ / (folder + "/" + name);
      kalo::test::CopyTestProgram(path);
      copies.emplace_back(processes_.Start(path, WindowStyle::kHidden));
      EXPECT_TRUE(kalo::test::WaitUntilStarted(path));
    }
    return copies;
  }

  kalo::test::TempFolder folder_;
  kalo::platform::ProcessTable processes_;
  int folders_ = 0;
};

TEST_F(KillProcessTest, EndsEveryCopyWhateverTheCaseAndBlanks) {
  const std::string name = UniqueName("victim");
  auto victims = StartCopies(name, 2);
  const auto bystanders = StartCopies(UniqueName("bystander"), 1);

  std::string wanted = "  " + name + " ";
  std::ranges::transform(wanted, wanted.begin(),
                         [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  EXPECT_TRUE(cUpdate::KillProcess(processes_, wanted, 0));

  for (WatchedChild& victim : victims) {
    EXPECT_EQ(victim.WaitForEnd(), ChildEnd::kTerminated);
  }
  EXPECT_TRUE(IsRunning(bystanders[0].Id()));
}

TEST_F(KillProcessTest, LeavesTheLastMatchesRunning) {
  const std::string name = UniqueName("spared");
  auto copies = StartCopies(name, 3);
  EXPECT_TRUE(cUpdate::KillProcess(processes_, name, 1));
  // The snapshot lists processes by id, so the one left is the highest.
  const auto spared = std::ranges::max_element(copies, {}, &WatchedChild::Id);
  for (WatchedChild& copy : copies) {
    if (&copy != &*spared) {
      EXPECT_EQ(copy.WaitForEnd(), ChildEnd::kTerminated);
    }
  }
  EXPECT_TRUE(IsRunning(spared->Id()));
}

TEST_F(KillProcessTest, NothingToEnd) {
  const std::string name = UniqueName("alone");
  const auto copies = StartCopies(name, 2);
  EXPECT_FALSE(cUpdate::KillProcess(processes_, name, 2));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, name, 5));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, "no-such-program.exe", 0));
  // Processes whose name is unknown must never be taken for an empty wanted name.
  EXPECT_FALSE(cUpdate::KillProcess(processes_, "   ", 0));
  for (const WatchedChild& copy : copies) {
    EXPECT_TRUE(IsRunning(copy.Id()));
  }
}

}  // namespace
