#include "support/process_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
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
using namespace std::chrono_literals;

class KillProcessTest : public testing::Test {
 protected:
  KillProcessTest() {
    std::filesystem::create_directory(folder_.Path() / "A");
    std::filesystem::create_directory(folder_.Path() / "B");
  }

  // A program name no other test uses, since every process of that name counts.
  std::string UniqueName(const std::string& role) const {
    return role + "-" + folder_.Path().filename().string() + ".exe";
  }

  // Starts the test program `count` times from the file `name` in the folder `sub`
  // ("A" or "B"), copying it there first.
  std::vector<WatchedChild> StartCopies(const std::string& sub, const std::string& name,
                                        int count) {
    const std::string path = folder_ / (sub + "/" + name);
    kalo::test::CopyTestProgram(path);
    std::vector<WatchedChild> copies;
    for (int i = 0; i < count; ++i) {
      std::filesystem::remove(kalo::test::FromUtf8(path + ".started"));
      copies.emplace_back(processes_.Start(path, WindowStyle::kHidden));
      EXPECT_TRUE(kalo::test::WaitUntilStarted(path));
    }
    return copies;
  }

  kalo::test::TempFolder folder_;
  const std::string install_ = folder_ / "A";
  kalo::platform::ProcessTable processes_;
};

// Another installation's copy of the same program, and its unsaved work, is not ours.
TEST_F(KillProcessTest, EndsEveryCopyInTheInstallFolderOnlyWhateverTheCaseAndBlanks) {
  // The install folder as the system names it, and spelled otherwise.
  const std::vector<std::string> spellings = {install_, folder_ / "A/", folder_ / "B/../A"};
  for (std::size_t i = 0; i < spellings.size(); ++i) {
    const std::string& install = spellings[i];
    SCOPED_TRACE(install);
    // Names of their own each time: a file that has just run may still be held.
    const std::string name = UniqueName("victim" + std::to_string(i));
    auto victims = StartCopies("A", name, 2);
    auto other_installation = StartCopies("B", name, 1);
    const auto bystanders = StartCopies("A", UniqueName("bystander" + std::to_string(i)), 1);

    std::string wanted = "  " + name + " ";
    std::ranges::transform(wanted, wanted.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_TRUE(cUpdate::KillProcess(processes_, install, wanted, 0));

    for (WatchedChild& victim : victims) {
      EXPECT_EQ(victim.WaitForEnd(), ChildEnd::kTerminated);
    }
    // Given the time an ending takes, so that a copy ended as well cannot pass for alive.
    EXPECT_EQ(other_installation[0].WaitForEnd(100ms), ChildEnd::kStillRunning);
    EXPECT_TRUE(IsRunning(bystanders[0].Id()));
    EXPECT_FALSE(cUpdate::KillProcess(processes_, install, name, 0));
  }
}

TEST_F(KillProcessTest, LeavesTheLastMatchesRunning) {
  const std::string name = UniqueName("spared");
  auto copies = StartCopies("A", name, 3);
  EXPECT_TRUE(cUpdate::KillProcess(processes_, install_, name, 1));
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
  const auto copies = StartCopies("A", name, 2);
  EXPECT_FALSE(cUpdate::KillProcess(processes_, install_, name, 2));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, install_, name, 5));
  EXPECT_FALSE(cUpdate::KillProcess(processes_, install_, "no-such-program.exe", 0));
  // Processes whose name is unknown must never be taken for an empty wanted name.
  EXPECT_FALSE(cUpdate::KillProcess(processes_, install_, "   ", 0));
  // Nor is a folder that does not exist the folder of anything.
  EXPECT_FALSE(cUpdate::KillProcess(processes_, folder_ / "C", name, 0));
  for (const WatchedChild& copy : copies) {
    EXPECT_TRUE(IsRunning(copy.Id()));
  }
}

}  // namespace
