// Folders as Windows compares them: full long paths, regardless of letter case.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "helpers/temp_folder.h"
#include "helpers/utf8_path.h"

namespace {

TEST(IsSameFolder, ComparesLongFullPathsRegardlessOfCase) {
  const kalo::test::TempFolder folder;
  const std::filesystem::path kalo = folder.Path() / "Kalo Sistemas";
  std::filesystem::create_directory(kalo);
  std::filesystem::create_directory(folder.Path() / "other");
  std::wstring short_path(MAX_PATH, L'\0');
  short_path.resize(::GetShortPathNameW(kalo.c_str(), short_path.data(), MAX_PATH));
  ASSERT_NE(short_path, kalo.wstring());
  std::string upper = folder / "Kalo Sistemas";
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const struct {
    std::string other;
    bool same;
  } cases[] = {
      {folder / "Kalo Sistemas", true},
      {folder / "kalo sistemas\\", true},
      {folder / "other/../Kalo Sistemas", true},
      {upper, true},
      {kalo::test::Utf8(short_path), true},
      {"\\\\?\\" + folder / "Kalo Sistemas", true},
      {folder / "other", false},
      {folder / "missing", false},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(kalo::platform::IsSameFolder(folder / "Kalo Sistemas", row.other), row.same)
        << row.other;
  }
}

}  // namespace
