// Our zip library where Windows has its own ways: MS-DOS attributes instead of Unix
// modes, files locked by other programs, names without regard to case, texts in the
// ANSI code page, and junctions.
#include <optional>
#include <string>
#include <vector>

#include "libs/win32/windows_files.h"
#include "libs/zip32_fixture.h"

namespace kalo::test {
namespace {

TEST_F(Zip32Test, KeepsModificationTimesAndDosAttributes) {
  struct Case {
    std::string name;
    DWORD attributes;  // Set on the file before the run; 0 for a folder.
    zip_uint32_t stored;
  };
  const std::vector<Case> cases = {{"tool/data.txt", FILE_ATTRIBUTE_NORMAL, 0},
                                   {"tool/locked.txt", FILE_ATTRIBUTE_READONLY, 0x01},
                                   {"tool/", 0, 0x10}};
  // An even second, since zip archives keep times in two-second steps.
  const std::time_t stamp = 1'600'000'000;
  fs::create_directory(folder_.Path() / "tool");
  for (const Case& c : cases) {
    if (c.attributes != 0) {
      SetMtime(folder_.Write(c.name, "content"), stamp);
      ASSERT_TRUE(::SetFileAttributesW(FromUtf8(folder_ / c.name).c_str(), c.attributes));
    }
  }
  ASSERT_EQ(Zip(archive_, {folder_ / "tool"}, {.recurse = true, .root = root_}), ZIP32_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StoredFacts facts = FactsOf(archive_, c.name);
    if (c.attributes != 0) {
      EXPECT_EQ(facts.mtime, stamp);
    }
    EXPECT_EQ(facts.method, c.attributes != 0 ? ZIP_CM_DEFLATE : ZIP_CM_STORE);
    EXPECT_EQ(facts.system, ZIP_OPSYS_DOS);
    EXPECT_EQ(facts.attributes, c.stored);
  }
}

TEST_F(Zip32Test, AFileLockedByAnotherProgramStopsTheRun) {
  const std::string path = folder_.Write("a.txt", "a");
  const WindowsHandle locked = OpenWindowsFile(FromUtf8(path), GENERIC_READ, 0);
  ASSERT_TRUE(locked);
  EXPECT_EQ(Zip(archive_, {path}), ZIP32_READ_FAILED);
  EXPECT_FALSE(fs::exists(FromUtf8(archive_)));
}

TEST_F(Zip32Test, CallerTextsAreInTheAnsiCodePageAndCaseDoesNotMatter) {
  const std::optional<std::string> summer = Ansi(L"\u00e9t\u00e9");
  const std::optional<std::string> over = Ansi(L"\u00dcber.txt");
  const std::optional<std::string> cafe = Ansi(L"Caf\u00e9");
  if (!summer || !over || !cafe) {
    GTEST_SKIP() << "the ANSI code page here has no accented Latin letters";
  }
  const fs::path folder = folder_.Path() / L"\u00e9t\u00e9";
  fs::create_directory(folder);
  folder_.Write("\u00e9t\u00e9/\u00dcber.txt", "u");
  folder_.Write("\u00e9t\u00e9/other.log", "o");
  Log().comment_answer = *cafe;
  // The archive and the name come in the code page; the pattern's case differs.
  const std::string archive = folder_ / "" + *summer + ".zip";
  ASSERT_EQ(Zip(archive, {folder_ / "" + *summer + "\\*.TXT"}, {.root = root_}), ZIP32_OK);
  EXPECT_EQ(Log().printed, "  adding: " + *summer + "/" + *over + "\n");
  std::string comment;
  EXPECT_EQ(Read(folder_ / "\u00e9t\u00e9.zip", &comment),
            (Contents{{"\u00e9t\u00e9/\u00dcber.txt", "u"}}));
  EXPECT_EQ(comment, "Caf\u00e9");
}

TEST_F(Zip32Test, JunctionsMetOnTheWayDownAreNotEntered) {
  fs::create_directories(folder_.Path() / "sub/inner");
  if (!MakeJunction(folder_.Path() / "sub/inner/loop", folder_.Path() / "sub")) {
    GTEST_SKIP() << "this system makes no junctions (wine does not)";
  }
  ExpectLoopNotEntered();
}

}  // namespace
}  // namespace kalo::test
