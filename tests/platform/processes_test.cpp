#include "platform/processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "helpers/child_processes.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace {

using kalo::platform::ProcessTable;
using kalo::platform::WindowStyle;
using kalo::test::ChildEnd;

TEST(ProcessTable, StartsAPathWithBlanksAndListsIt) {
  const kalo::test::TempFolder folder;
  std::filesystem::create_directory(folder.Path() / "Program Files");
  const std::string path = folder / "Program Files/acme corp.exe";
  kalo::test::CopyTestProgram(path);

  ProcessTable processes;
  for (WindowStyle style : {WindowStyle::kHidden, WindowStyle::kNormalFocus}) {
    std::filesystem::remove(kalo::test::FromUtf8(path + ".started"));
    kalo::test::WatchedChild child(processes.Start(path, style));
    ASSERT_TRUE(kalo::test::WaitUntilStarted(path));
    EXPECT_EQ(kalo::test::StartedProcessId(path), child.Id());

    const auto snapshot = processes.Snapshot();
    const auto entry = std::ranges::find(snapshot, child.Id(), &kalo::platform::ProcessEntry::id);
    ASSERT_NE(entry, snapshot.end());
    EXPECT_EQ(entry->executable_name, "acme corp.exe");
    EXPECT_EQ(kalo::platform::FileNameOf(entry->executable_path), "acme corp.exe");
    EXPECT_TRUE(kalo::platform::IsSameFolder(kalo::platform::FolderOf(entry->executable_path),
                                             folder / "Program Files"));
    EXPECT_TRUE(std::ranges::is_sorted(snapshot, {}, &kalo::platform::ProcessEntry::id));

    EXPECT_TRUE(processes.Terminate(child.Id()));
    EXPECT_EQ(child.WaitForEnd(), ChildEnd::kTerminated);
    EXPECT_FALSE(processes.Terminate(child.Id()));
  }
}

TEST(ProcessTable, StartFailuresAreErrors) {
  const kalo::test::TempFolder folder;
  const std::string not_a_program = folder.Write("not-a-program.exe", "just text\n");
  std::filesystem::permissions(kalo::test::FromUtf8(not_a_program),
                               std::filesystem::perms::owner_all);
  ProcessTable processes;
  for (const std::string& path : {not_a_program, folder / "missing.exe"}) {
    try {
      processes.Start(path, WindowStyle::kHidden);
      ADD_FAILURE() << path << " was started";
    } catch (const kalo::Error& error) {
      EXPECT_NE(error.Description().find(path), std::string::npos);
    }
  }
}

}  // namespace
