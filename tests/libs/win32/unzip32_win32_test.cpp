// Wiz_SingleEntryUnzip where Windows has its own risks: reparse points and held folders
// below the destination, the read-only attribute in place of Unix modes, names Windows
// cannot hold, texts in the ANSI code page, and paths past 260 characters.
#include <optional>
#include <string>
#include <vector>

#include "helpers/windows_names.h"
#include "libs/unzip32_fixture.h"
#include "libs/win32/windows_files.h"

namespace kalo::test {
namespace {

TEST_F(Unzip32Test, JunctionsBelowTheDestinationAreNotFollowed) {
  if (!MakeJunction(temp_.Path() / "probe", temp_.Path())) {
    GTEST_SKIP() << "this system makes no junctions (wine does not)";
  }
  ExpectConfined(
      {{ArchiveBuilder().AddFile("dir/x", "x"),
        [this] { ASSERT_TRUE(MakeJunction(FromUtf8(Out("dir")), FromUtf8(Outside("")))); },
        UNZIP32_WRITE_FAILED, std::nullopt}});
}

TEST_F(Unzip32Test, FoldersInUseCannotBeMovedAway) {
  if (!HeldFoldersStayInPlace(temp_.Path())) {
    GTEST_SKIP() << "this system lets a folder in use be renamed (wine does)";
  }
  ArchiveBuilder().AddFile("sub/a.txt", "a").AddFile("sub/b.txt", "b").Write(zip_);
  // Before the second entry, "sub" is held for the first one.
  bool moved = true;
  calls_.on_service = [&] {
    if (calls_.serviced.size() == 2) {
      moved = ::MoveFileExW(FromUtf8(Out("sub")).c_str(), FromUtf8(Out("moved")).c_str(), 0);
    }
  };
  command_.HonorDirectories = 1;
  EXPECT_EQ(Unzip(zip_), UNZIP32_OK);
  EXPECT_FALSE(moved);
  EXPECT_EQ(Tree(out_), (Files{"sub/", "sub/a.txt", "sub/b.txt"}));
}

TEST_F(Unzip32Test, TheReadOnlyAttributeStandsInForUnixModes) {
  const EntryOptions no_mode = EntryOptions().NoUnixMode();
  struct Case {
    std::string name;
    EntryOptions options;
    bool existing_read_only;  // A read-only file of that name is in place.
    bool read_only;
  } cases[] = {
      {"locked.txt", EntryOptions().Mode(0444), false, true},
      {"open.txt", EntryOptions().Mode(0644), true, false},
      {"kept.txt", no_mode, true, true},
      {"tool.exe", no_mode, true, false},
      {"fresh.txt", no_mode, false, false},
  };
  ArchiveBuilder archive;
  fs::create_directory(FromUtf8(out_));
  for (const Case& c : cases) {
    archive.AddFile(c.name, "new", c.options);
    if (c.existing_read_only) {
      const std::string path = temp_.Write("out/" + c.name, "old");
      ASSERT_TRUE(::SetFileAttributesW(FromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY));
    }
  }
  ASSERT_EQ(Unzip(archive.Write(zip_)), UNZIP32_OK) << calls_.printed;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((AttributesOf(FromUtf8(Out(c.name))) & FILE_ATTRIBUTE_READONLY) != 0, c.read_only);
    EXPECT_EQ(ReadWholeFile(Out(c.name)), "new");
  }
  EXPECT_EQ(Tree(out_), (Files{"locked.txt", "open.txt", "kept.txt", "tool.exe", "fresh.txt"}));
}

// Through "\\?\" paths Windows would write these literally, as files Explorer and cmd
// can neither open nor delete; each is skipped with a warning and the run goes on.
TEST_F(Unzip32Test, NamesWindowsCannotHoldAreSkipped) {
  ArchiveBuilder archive;
  Files written;
  std::vector<std::string> refused;
  for (const WindowsNameCase& c : WindowsNames()) {
    archive.AddFile(c.name, c.name);
    if (c.holdable) {
      written.insert(c.name);
    } else {
      refused.push_back(c.name);
    }
  }
  // A folder is refused like a file.
  archive.AddFile("nul/inside.txt", "x").AddFile("ab:c/inside.txt", "x");
  refused.insert(refused.end(), {"nul/inside.txt", "ab:c/inside.txt"});
  command_.HonorDirectories = 1;
  EXPECT_EQ(Unzip(archive.Write(zip_)), UNZIP32_WARNING);
  for (const std::string& name : refused) {
    EXPECT_NE(calls_.printed.find("warning: " + name + ": name Windows cannot hold"),
              std::string::npos)
        << name;
  }
  EXPECT_EQ(Tree(out_), written);
  EXPECT_EQ(ReadWholeFile(Out("com10.dll")), "com10.dll");
}

TEST_F(Unzip32Test, CallerTextsAreInTheAnsiCodePage) {
  const std::optional<std::string> summer = Ansi(L"\u00e9t\u00e9");
  const std::optional<std::string> over = Ansi(L"\u00fcber.txt");
  if (!summer || !over) {
    GTEST_SKIP() << "the ANSI code page here has no accented Latin letters";
  }
  // The archive holds UTF-8 names; the caller's destination, patterns and callbacks use
  // the code page.
  ArchiveBuilder()
      .AddFile("\u00e9t\u00e9/\u00fcber.txt", "u")
      .AddFile("other.txt", "o")
      .Write(zip_);
  const std::string destination = out_ + *summer;
  command_.ExtractDir = destination.c_str();
  command_.HonorDirectories = 1;
  const std::string entry = *summer + "/" + *over;
  ASSERT_EQ(Unzip(zip_, {*summer + "*"}), UNZIP32_OK) << calls_.printed;
  EXPECT_EQ(calls_.serviced, std::vector<std::string>{entry});
  EXPECT_NE(calls_.printed.find("  inflating: " + entry + "\n"), std::string::npos);
  const fs::path written = FromUtf8(out_ + "\u00e9t\u00e9") / L"\u00e9t\u00e9" / L"\u00fcber.txt";
  EXPECT_EQ(ReadLarge(Utf8(written)), "u");

  command_.OverWriteFiles = 0;
  command_.PromptOverwrite = 1;
  ASSERT_EQ(Unzip(zip_, {*summer + "*"}), UNZIP32_OK);
  EXPECT_EQ(calls_.replace_asked, std::vector<std::string>{destination + "/" + entry});
}

// The caller would get the look-alikes its code page puts in place of characters it
// lacks: "../evil.txt" for the fullwidth "．．／evil.txt". Such a name stops the run.
TEST_F(Unzip32Test, NamesTheCallersCodePageCannotHoldExactlyStopTheRun) {
  if (Ansi(L"\uff0e\uff0e\uff0f")) {
    GTEST_SKIP() << "the ANSI code page here holds every character";
  }
  ArchiveBuilder().AddFile("\uff0e\uff0e\uff0fevil.txt", "e").Write(zip_);
  EXPECT_EQ(Unzip(zip_), UNZIP32_ABORTED) << calls_.printed;
  EXPECT_EQ(calls_.serviced, std::vector<std::string>{});
}

TEST_F(Unzip32Test, PathsMayBeLongerThan260Characters) {
  const std::string folder(120, 'f');
  const std::string name = folder + "/" + folder + "/" + folder + ".txt";
  ArchiveBuilder().AddFile(name, "deep").Write(zip_);
  command_.HonorDirectories = 1;
  ASSERT_EQ(Unzip(zip_), UNZIP32_OK) << calls_.printed;
  ASSERT_GT(Out(name).size(), std::size_t{MAX_PATH});
  // The prefix lets the test read past 260 characters as well.
  const std::wstring path = L"\\\\?\\" + FromUtf8(Out(name)).make_preferred().wstring();
  const WindowsHandle file = OpenWindowsFile(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(file);
  char bytes[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), "deep");
}

}  // namespace
}  // namespace kalo::test
