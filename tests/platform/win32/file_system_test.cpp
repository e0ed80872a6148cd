// Files as Windows users meet them: names in any case, hidden and system files left
// out of searches, and the system's own error codes behind the error numbers.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "helpers/temp_folder.h"
#include "helpers/utf8_path.h"
#include "platform/error.h"

namespace {

using kalo::test::FromUtf8;
using kalo::test::TempFolder;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

TEST(FileSystemOnWindows, FindFileMatchesLongNamesInAnyCaseAndOrdinaryFilesOnly) {
  const TempFolder folder;
  folder.Write("Report.TXT", "");
  folder.Write("a-long-file-name.html", "");
  folder.Write("noextension", "");
  SetFileAttributesW(FromUtf8(folder.Write("hidden.txt", "")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW(FromUtf8(folder.Write("system.txt", "")).c_str(), FILE_ATTRIBUTE_SYSTEM);
  std::filesystem::create_directory(folder.Path() / "folder.txt");
  const struct {
    const char* pattern;
    std::optional<std::string> found;
  } cases[] = {
      {"report.txt", "Report.TXT"},
      {"REPORT.*", "Report.TXT"},
      {"*.*", "Report.TXT"},
      {"*.html", "a-long-file-name.html"},
      // The system's own matching would take the short name A-LONG~1.HTM.
      {"*.htm", std::nullopt},
      {"noext??????", "noextension"},
      // The system's own matching would take a name without a dot.
      {"noext*.*", std::nullopt},
      {"hidden.txt", std::nullopt},
      {"system.txt", std::nullopt},
      {"s*.txt", std::nullopt},
      {"folder.txt", std::nullopt},
      {"missing\\*.txt", std::nullopt},
  };
  const kalo::platform::FileSystem file_system;
  for (const auto& row : cases) {
    EXPECT_EQ(file_system.FindFile(folder / row.pattern), row.found) << row.pattern;
  }
}

// Wine shows any name with a leading dot as hidden by itself; the attribute set on the
// folder is kept with it, and is still there once the folder is renamed without the dot.
TEST(FileSystemOnWindows, FoldersNamedWithADotAreHidden) {
  const TempFolder folder;
  kalo::platform::FileSystem fs;
  for (const auto& [name, hidden] : {std::pair{".kalo_upd", true}, std::pair{"dados", false}}) {
    fs.CreateFolder(folder / name);
    EXPECT_EQ(fs.KindOf(folder / name), kalo::platform::EntryKind::kFolder) << name;
    const std::string renamed = folder / ("renamed" + std::string(name));
    ASSERT_TRUE(MoveFileW(FromUtf8(folder / name).c_str(), FromUtf8(renamed).c_str())) << name;
    const DWORD attributes = GetFileAttributesW(FromUtf8(renamed).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ((attributes & FILE_ATTRIBUTE_HIDDEN) != 0, hidden) << name;
  }
}

TEST(FileSystemOnWindows, SystemErrorsGetTheNumbersUsersKnow) {
  const TempFolder folder;
  const std::string busy = folder.Write("busy.exe", "x");
  std::filesystem::create_directory(folder.Path() / "folder");
  // Open without sharing, as a running program holds its file.
  const std::unique_ptr<void, HandleCloser> holder(
      CreateFileW(FromUtf8(busy).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_NE(holder.get(), INVALID_HANDLE_VALUE);
  kalo::platform::FileSystem file_system;
  const struct {
    const char* name;
    std::function<void()> fail;
    int number;
  } cases[] = {
      {"missing file", [&] { file_system.ReadFile(folder / "missing.txt"); },
       kalo::error_number::kFileNotFound},
      {"missing folder", [&] { file_system.ReadFile(folder / "missing/x.txt"); },
       kalo::error_number::kPathNotFound},
      {"existing folder", [&] { file_system.CreateFolder(folder / "folder"); },
       kalo::error_number::kFileAlreadyExists},
      {"file in use", [&] { file_system.RemoveFile(busy); }, kalo::error_number::kPermissionDenied},
  };
  for (const auto& row : cases) {
    try {
      row.fail();
      ADD_FAILURE() << row.name << ": no error";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), row.number) << row.name;
      EXPECT_EQ(error.Source(), "FileSystem");
      // The system's text, without the line break it comes with.
      EXPECT_TRUE(error.Description().ends_with(")")) << error.Description();
      EXPECT_EQ(error.Description().find_first_of("\r\n"), std::string::npos);
    }
  }
}

}  // namespace
