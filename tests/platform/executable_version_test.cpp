#include "platform/executable_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "helpers/pe_builder.h"

namespace kalo::platform {
namespace {

using Image = std::vector<std::byte>;

// Versions compare as text so that tables and failure messages read as a.b.c.d.
std::string Text(const std::optional<FileVersion>& version) {
  if (!version) {
    return "none";
  }
  return std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
         std::to_string(version->build) + "." + std::to_string(version->revision);
}

Image ReadFixture(const std::string& name) {
  std::ifstream file(std::string(KALO_TEST_FIXTURE_DIR) + "/pe/" + name, std::ios::binary);
  const std::vector<char> chars{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  Image image(chars.size());
  std::transform(chars.begin(), chars.end(), image.begin(),
                 [](char c) { return static_cast<std::byte>(c); });
  return image;
}

// Offset of the fixed file information, found by its signature bytes.
std::size_t FixedInfoOffset(const Image& image) {
  constexpr std::array kSignature{std::byte{0xBD}, std::byte{0x04}, std::byte{0xEF},
                                  std::byte{0xFE}};
  const auto found = std::search(image.begin(), image.end(), kSignature.begin(), kSignature.end());
  return static_cast<std::size_t>(found - image.begin());
}

test::PeOptions VersionedPe(bool pe32_plus) {
  test::PeOptions options;
  options.pe32_plus = pe32_plus;
  options.file_version = FileVersion{1503, 2021, 7, 930};
  return options;
}

test::ElfOptions VersionedElf() {
  test::ElfOptions options;
  options.file_version = FileVersion{2111, 2018, 0, 1540};
  return options;
}

struct FixtureCase {
  const char* file;
  const char* version;
};

constexpr FixtureCase kFixtures[] = {
    {"app32-1503-2021.exe", "1503.2021.0.930"}, {"app64-3112-1999.exe", "3112.1999.4.2359"},
    {"lib32-101-2000.dll", "101.2000.0.1"},     {"lib64-2802-2024.dll", "2802.2024.3.1200"},
    {"plain32-noversion.exe", "none"},          {"plain64-noversion.exe", "none"},
};

TEST(ExecutableVersionTest, ReadsTheFileVersionOfRealPeFiles) {
  for (const FixtureCase& fixture : kFixtures) {
    SCOPED_TRACE(fixture.file);
    const Image image = ReadFixture(fixture.file);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(Text(ParsePeVersion(image)), fixture.version);
    EXPECT_EQ(Text(ParseExecutableVersion(image)), fixture.version);
    EXPECT_EQ(Text(ParseElfVersion(image)), "none");
  }
}

TEST(ExecutableVersionTest, TruncatedRealPeFilesAnswerNothingOrTheirVersion) {
  for (const FixtureCase& fixture : kFixtures) {
    SCOPED_TRACE(fixture.file);
    const Image image = ReadFixture(fixture.file);
    ASSERT_FALSE(image.empty());
    for (std::size_t length = 0; length < image.size(); ++length) {
      const std::string answer = Text(ParsePeVersion(std::span(image).first(length)));
      if (answer != "none") {
        ASSERT_EQ(answer, fixture.version) << "cut at " << length;
      }
    }
  }
}

TEST(ExecutableVersionTest, ReadsGeneratedPeImages) {
  struct Case {
    bool pe32_plus;
    std::optional<FileVersion> version;
    const char* expected;
  };
  const Case cases[] = {
      {false, FileVersion{1503, 2021, 0, 930}, "1503.2021.0.930"},
      {true, FileVersion{65535, 0, 65535, 1}, "65535.0.65535.1"},
      {false, std::nullopt, "none"},
      {true, std::nullopt, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected + std::string(c.pe32_plus ? " PE32+" : " PE32"));
    test::PeOptions options;
    options.pe32_plus = c.pe32_plus;
    options.file_version = c.version;
    const Image image = test::BuildPe(options);
    EXPECT_EQ(Text(ParsePeVersion(image)), c.expected);
    EXPECT_EQ(Text(ParseExecutableVersion(image)), c.expected);
  }
}

// The fixed file information closes the generated image's data, so exactly the cuts that
// keep all of it still answer.
TEST(ExecutableVersionTest, TruncatedGeneratedPeImagesAnswerOnlyWithTheWholeVersionBlock) {
  for (const bool pe32_plus : {false, true}) {
    const Image image = test::BuildPe(VersionedPe(pe32_plus));
    const std::size_t info_end = FixedInfoOffset(image) + 52;
    ASSERT_LE(info_end, image.size());
    for (std::size_t length = 0; length <= image.size(); ++length) {
      const std::string expected = length >= info_end ? "1503.2021.7.930" : "none";
      ASSERT_EQ(Text(ParsePeVersion(std::span(image).first(length))), expected)
          << "cut at " << length << (pe32_plus ? " of PE32+" : " of PE32");
    }
  }
}

TEST(ExecutableVersionTest, DamagedPeImagesAnswerNothing) {
  struct Case {
    const char* name;
    void (*damage)(test::PeOptions&);
    const char* expected;
  };
  const Case cases[] = {
      {"undamaged", [](test::PeOptions&) {}, "1503.2021.7.930"},
      {"PE header past the end", [](test::PeOptions& o) { o.pe_header_offset = 0xFFFFFFF0; },
       "none"},
      {"no resource data directory", [](test::PeOptions& o) { o.data_directory_count = 2; },
       "none"},
      {"resource directory in no section", [](test::PeOptions& o) { o.resource_rva = 0x7FFF0000; },
       "none"},
      {"resource raw data past the end",
       [](test::PeOptions& o) { o.resource_raw_data = 0xFFFFFE00; }, "none"},
      {"data in no section", [](test::PeOptions& o) { o.data_rva = 0xFFFFFFF0; }, "none"},
      {"data longer than the section", [](test::PeOptions& o) { o.data_size = 0x10000; }, "none"},
      {"data size at the 32-bit limit", [](test::PeOptions& o) { o.data_size = 0xFFFFFFFF; },
       "none"},
      {"version entry pointing at the root",
       [](test::PeOptions& o) { o.version_entry_points_to_root = true; }, "none"},
      {"huge id count before the version entry",
       [](test::PeOptions& o) { o.root_id_entries = 0xFFFF; }, "1503.2021.7.930"},
      {"huge id count without a version entry",
       [](test::PeOptions& o) {
         o.file_version.reset();
         o.root_id_entries = 0xFFFF;
       },
       "none"},
      {"wrong signature", [](test::PeOptions& o) { o.signature = 0xFEEF04BE; }, "none"},
      {"value shorter than the fixed information", [](test::PeOptions& o) { o.value_length = 51; },
       "none"},
      {"other key", [](test::PeOptions& o) { o.key = u"VS_VERSION_INFX"; }, "none"},
      {"shorter key", [](test::PeOptions& o) { o.key = u"VS_VERSION"; }, "none"},
  };
  for (const Case& c : cases) {
    for (const bool pe32_plus : {false, true}) {
      SCOPED_TRACE(c.name + std::string(pe32_plus ? " PE32+" : " PE32"));
      test::PeOptions options = VersionedPe(pe32_plus);
      c.damage(options);
      EXPECT_EQ(Text(ParseExecutableVersion(test::BuildPe(options))), c.expected);
    }
  }
}

// Flips that spare the version words may break the file but never change its answer, since
// it holds no other fixed file information.
TEST(ExecutableVersionTest, RandomByteFlipsAnswerNothingOrTheOriginalVersion) {
  test::ElfOptions elf32 = VersionedElf();
  elf32.elf64 = false;
  elf32.big_endian = true;
  const Image images[] = {test::BuildPe(VersionedPe(false)), test::BuildPe(VersionedPe(true)),
                          ReadFixture("lib32-101-2000.dll"), test::BuildElf(VersionedElf()),
                          test::BuildElf(elf32)};
  std::mt19937 random(20240228);
  for (const Image& image : images) {
    const std::string expected = Text(ParseExecutableVersion(image));
    ASSERT_NE(expected, "none");
    const std::size_t version_at = FixedInfoOffset(image) + 8;
    std::uniform_int_distribution<std::size_t> position(0, image.size() - 1);
    std::uniform_int_distribution<int> flips(1, 4), bits(1, 255);
    for (int round = 0; round < 3000; ++round) {
      Image damaged = image;
      for (int flip = flips(random); flip > 0; --flip) {
        const std::size_t at = position(random);
        if (at < version_at || at >= version_at + 8) {
          damaged[at] ^= static_cast<std::byte>(bits(random));
        }
      }
      const std::string answer = Text(ParseExecutableVersion(damaged));
      if (answer != "none") {
        ASSERT_EQ(answer, expected) << "round " << round;
      }
    }
  }
}

TEST(ExecutableVersionTest, ReadsTheVersionNoteOfEveryElfLayout) {
  for (const bool elf64 : {false, true}) {
    for (const bool big_endian : {false, true}) {
      for (const bool section_headers : {true, false}) {
        for (const std::uint32_t alignment : {4u, 8u}) {
          test::ElfOptions options = VersionedElf();
          options.elf64 = elf64;
          options.big_endian = big_endian;
          options.section_headers = section_headers;
          options.note_alignment = alignment;
          SCOPED_TRACE(testing::Message() << (elf64 ? "64" : "32") << (big_endian ? " BE" : " LE")
                                          << (section_headers ? " sections" : " segments")
                                          << " aligned " << alignment);
          const Image image = test::BuildElf(options);
          EXPECT_EQ(Text(ParseElfVersion(image)), "2111.2018.0.1540");
          EXPECT_EQ(Text(ParseExecutableVersion(image)), "2111.2018.0.1540");
          EXPECT_EQ(Text(ParsePeVersion(image)), "none");
        }
      }
    }
  }
}

TEST(ExecutableVersionTest, ElfNotesOtherThanTheVersionNoteAnswerNothing) {
  struct Case {
    const char* name;
    void (*change)(test::ElfOptions&);
    const char* expected;
  };
  const Case cases[] = {
      {"version note", [](test::ElfOptions&) {}, "2111.2018.0.1540"},
      {"other owner", [](test::ElfOptions& o) { o.owner = "KALX"; }, "none"},
      {"shorter owner", [](test::ElfOptions& o) { o.owner = "KAL"; }, "none"},
      {"longer owner", [](test::ElfOptions& o) { o.owner = "KALOS"; }, "none"},
      {"owner padded with NULs", [](test::ElfOptions& o) { o.owner = std::string("KALO\0\0", 6); },
       "none"},
      {"other type", [](test::ElfOptions& o) { o.note_type = 2; }, "none"},
      {"short descriptor", [](test::ElfOptions& o) { o.descriptor_size = 51; }, "none"},
      {"long descriptor", [](test::ElfOptions& o) { o.descriptor_size = 60; }, "2111.2018.0.1540"},
      {"wrong signature", [](test::ElfOptions& o) { o.signature = 0xBD04EFFE; }, "none"},
      {"section table past the end",
       [](test::ElfOptions& o) { o.section_header_offset = 0xFFFFFFFFFFFFFFF0; }, "none"},
      {"huge section count", [](test::ElfOptions& o) { o.section_count = 0xFFFF; },
       "2111.2018.0.1540"},
      {"no section count and an empty first section",
       [](test::ElfOptions& o) { o.section_count = 0; }, "2111.2018.0.1540"},
      {"notes longer than the file", [](test::ElfOptions& o) { o.note_size = 0xFFFFFFFFFFFF0; },
       "none"},
  };
  for (const Case& c : cases) {
    for (const bool big_endian : {false, true}) {
      SCOPED_TRACE(c.name + std::string(big_endian ? " BE" : " LE"));
      test::ElfOptions options = VersionedElf();
      options.big_endian = big_endian;
      c.change(options);
      EXPECT_EQ(Text(ParseExecutableVersion(test::BuildElf(options))), c.expected);
    }
  }
}

// Many note sections over one long run of notes: reading every section in full would take
// minutes, so this finishes quickly only because the notes read per file are bounded.
TEST(ExecutableVersionTest, NoteSectionsSharingTheirNotesAreReadOnce) {
  for (const char* owner : {"KALO", "KALX"}) {
    test::ElfOptions options = VersionedElf();
    options.owner = owner;
    options.empty_notes = 200000;
    options.note_sections = 60000;
    EXPECT_EQ(Text(ParseElfVersion(test::BuildElf(options))),
              owner == std::string("KALO") ? "2111.2018.0.1540" : "none");
  }
}

TEST(ExecutableVersionTest, TruncatedElfFilesAnswerNothingOrTheirVersion) {
  for (const bool elf64 : {false, true}) {
    for (const bool section_headers : {true, false}) {
      test::ElfOptions options = VersionedElf();
      options.elf64 = elf64;
      options.section_headers = section_headers;
      const Image image = test::BuildElf(options);
      ASSERT_EQ(Text(ParseElfVersion(image)), "2111.2018.0.1540");
      for (std::size_t length = 0; length < image.size(); ++length) {
        const std::string answer = Text(ParseElfVersion(std::span(image).first(length)));
        if (answer != "none") {
          ASSERT_EQ(answer, "2111.2018.0.1540") << "cut at " << length;
        }
      }
    }
  }
}

TEST(ExecutableVersionTest, AnswersNothingForOtherFiles) {
  const std::string inputs[] = {
      "",
      "M",
      "MZ",
      std::string("\177ELF"),
      std::string("\177ELF\x03\x01", 6),
      std::string("\177ELF\x02\x03", 6),
      "#!/bin/sh\necho hello\n",
      std::string(4096, '\0'),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(testing::PrintToString(input));
    EXPECT_EQ(Text(ParseExecutableVersion(std::as_bytes(std::span(input)))), "none");
  }
}

}  // namespace
}  // namespace kalo::platform
