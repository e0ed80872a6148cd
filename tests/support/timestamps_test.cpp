#include "support/timestamps.h"

#include <gtest/gtest.h>

#include <string>

#include "helpers/temp_folder.h"
#include "kalo/build_version.h"
#include "platform/own_program.h"

namespace {

struct StampCase {
  const char* pattern;
  int year, month, day, hour, minute, second;
  const char* expected;
};

class FormatStampTest : public testing::TestWithParam<StampCase> {};

TEST_P(FormatStampTest, RendersThePattern) {
  const StampCase& c = GetParam();
  EXPECT_EQ(cUpdate::FormatStamp(c.pattern, c.year, c.month, c.day, c.hour, c.minute, c.second),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatStampTest,
    testing::Values(StampCase{"dd/mm/yyyy hh:nn", 2018, 11, 21, 15, 40, 0, "21/11/2018 15:40"},
                    StampCase{"yyyymmddhhnn", 2018, 11, 21, 15, 40, 0, "201811211540"},
                    StampCase{"DD/MM/YYYY HH:NN", 2018, 11, 21, 15, 40, 0, "21/11/2018 15:40"},
                    StampCase{"Dd/mM/yYyY", 2026, 12, 7, 0, 0, 0, "07/12/2026"},
                    // One letter means no zero fill.
                    StampCase{"d/m/yyyy", 2026, 3, 7, 0, 0, 0, "7/3/2026"},
                    // A value wider than its run is written whole.
                    StampCase{"yyyy", 12345, 1, 1, 0, 0, 0, "12345"},
                    StampCase{"yy", 2026, 1, 1, 0, 0, 0, "2026"},
                    // A letter in two runs is counted over both, so neither run is replaced.
                    StampCase{"yyyymmddhhmmss", 2018, 11, 21, 15, 40, 0, "2018mm2115mm00"},
                    StampCase{"dd de mm", 2018, 11, 21, 15, 40, 0, "dd de 11"},
                    // Negative values keep their sign in front of the padded digits.
                    StampCase{"dd|mm", 2018, -5, -1, 0, 0, 0, "-01|-05"},
                    StampCase{"ss", 0, 0, 0, 0, 0, 7, "07"},
                    // Letters inside literal words are fields too.
                    StampCase{"ano yyyy", 2018, 11, 21, 15, 40, 0, "a40o 2018"},
                    StampCase{"<> :/ 1-2", 2018, 11, 21, 15, 40, 0, "<> :/ 1-2"},
                    StampCase{"", 2018, 11, 21, 15, 40, 0, ""}));

struct VersionCase {
  int day_month, year, hour_minute;
  const char* expected;  // under "yyyymmddhhnn"
};

class FormatVersionDateTest : public testing::TestWithParam<VersionCase> {};

TEST_P(FormatVersionDateTest, DecodesTheVersionFields) {
  const VersionCase& c = GetParam();
  EXPECT_EQ(cUpdate::FormatVersionDate("yyyymmddhhnn", c.day_month, c.year, c.hour_minute),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, FormatVersionDateTest,
    testing::Values(VersionCase{2111, 2018, 1540, "201811211540"},
                    VersionCase{712, 2026, 2145, "202612072145"},
                    // Below 1000 the field is zero-filled to four digits before the split.
                    VersionCase{5, 2000, 1, "200005000001"},
                    // Wider than four digits: only the first two and last two characters.
                    VersionCase{12345, 2000, 0, "200045120000"},
                    // A negative 16-bit field: "-" and its first digit, then its last two.
                    VersionCase{-32768, 2000, -1, "200068-030001"},
                    VersionCase{-1, -1, 0, "-000101000000"}));

TEST(AppVersionDate, RendersTheBuildVersion) {
  const std::string expected =
      cUpdate::FormatVersionDate("dd/mm/yyyy hh:nn", kalo::build::kVersionMajor,
                                 kalo::build::kVersionMinor, kalo::build::kVersionRevision);
  EXPECT_EQ(cUpdate::AppVersionDate("dd/mm/yyyy hh:nn"), expected);
  EXPECT_EQ(expected.size(), 16u);
}

TEST(FileVersionStamp, ReadsTheOwnProgramsVersion) {
  // The version the build wrote into this test program's file and the header compiled
  // into it must tell the same.
  EXPECT_EQ(cUpdate::FileVersionStamp(kalo::platform::OwnFilePath(), "yyyymmddhhnn"),
            cUpdate::AppVersionDate("yyyymmddhhnn"));
}

struct FileCase {
  const char* file;
  const char* expected;
};

class FileVersionStampTest : public testing::TestWithParam<FileCase> {};

TEST_P(FileVersionStampTest, StampsRealFiles) {
  const std::string path = std::string(KALO_TEST_FIXTURE_DIR) + "/pe/" + GetParam().file;
  EXPECT_EQ(cUpdate::FileVersionStamp(path, "yyyymmddhhnn"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(PeFixtures, FileVersionStampTest,
                         testing::Values(FileCase{"app32-1503-2021.exe", "202103150930"},
                                         FileCase{"app64-3112-1999.exe", "199912312359"},
                                         FileCase{"lib32-101-2000.dll", "200001010001"},
                                         FileCase{"lib64-2802-2024.dll", "202402281200"},
                                         FileCase{"plain32-noversion.exe", ""},
                                         FileCase{"plain64-noversion.exe", ""},
                                         FileCase{"no-such-file.exe", ""}));

// The test program carries its version as every program of ours does on its system:
// an ELF note on Linux, a version resource on Windows.
TEST(FileVersionStamp, ProgramOfOursWithItsVersion) {
  EXPECT_EQ(cUpdate::FileVersionStamp(KALO_TEST_PROGRAM, "yyyymmddhhnn"), "201811211540");
  EXPECT_EQ(cUpdate::FileVersionStamp(KALO_TEST_PROGRAM, "dd/mm/yyyy hh:nn"), "21/11/2018 15:40");
}

TEST(FileVersionStamp, FilesWithoutVersion) {
  const kalo::test::TempFolder folder;
  EXPECT_EQ(cUpdate::FileVersionStamp(folder.Write("empty.exe", ""), "yyyymmddhhnn"), "");
  EXPECT_EQ(cUpdate::FileVersionStamp(folder.Write("text.exe", "MZ not really"), "yyyymmddhhnn"),
            "");
  EXPECT_EQ(cUpdate::FileVersionStamp(folder.Path().string(), "yyyymmddhhnn"), "");
}

}  // namespace
