#include "update/freshness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "helpers/child_processes.h"
#include "helpers/fake_ui.h"
#include "helpers/install_folder.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"

namespace kalo {
std::span<const platform::CarriedResource> CarriedExtractors();
}

namespace {

using kalo::test::ReadWholeFile;
using kalo::test::TempFolder;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct FreshnessCase {
  const char* what;
  const char* file_name;  // in the install folder; a copy of `source` when that is set
  const char* source;     // nullptr: a data file with `content`
  const char* content;
  const char* size_text;
  const char* stamp_text;
  bool current;
};

class IsEntryCurrentTest : public testing::TestWithParam<FreshnessCase> {};

TEST_P(IsEntryCurrentTest, JudgesByLengthOrVersion) {
  const FreshnessCase& c = GetParam();
  const TempFolder folder;
  if (c.source != nullptr) {
    fs::copy_file(c.source, folder / c.file_name);
  } else if (c.content != nullptr) {
    folder.Write(c.file_name, c.content);
  }
  const kalo::platform::FileSystem fs;
  EXPECT_EQ(cImpLicencas::IsEntryCurrent(fs, folder.Path().string(), c.file_name, c.size_text,
                                         c.stamp_text),
            c.current)
      << c.what;
}

const std::string kPe = std::string(KALO_TEST_FIXTURE_DIR) + "/pe/";
const std::string kVersioned = kPe + "app32-1503-2021.exe";
const std::string kUnversioned = kPe + "plain32-noversion.exe";

INSTANTIATE_TEST_SUITE_P(
    Entries, IsEntryCurrentTest,
    testing::Values(
        FreshnessCase{"same length", "logo-jpg-1.jpg", nullptr, "12345", "5", "", true},
        FreshnessCase{"other length", "logo-jpg-1.jpg", nullptr, "1234", "5", "", false},
        FreshnessCase{"leading zero", "logo-jpg-1.jpg", nullptr, "12345", "05", "", false},
        FreshnessCase{"empty file, size 0", "e.txt", nullptr, "", "0", "", true},
        FreshnessCase{"empty size text", "e.txt", nullptr, "", "", "", false},
        FreshnessCase{"missing file", "gone.txt", nullptr, nullptr, "0", "", false},
        FreshnessCase{"stamp decides an executable", "acme.exe", kVersioned.c_str(), nullptr, "999",
                      "202103150930", true},
        FreshnessCase{"minutes differ", "acme.exe", kVersioned.c_str(), nullptr, "", "202103150931",
                      false},
        FreshnessCase{"no dot before exe", "myexe", kVersioned.c_str(), nullptr, "", "202103150930",
                      true},
        FreshnessCase{"exe in capitals is no executable", "ACME.EXE", kVersioned.c_str(), nullptr,
                      "0", "202103150930", false},
        FreshnessCase{"no version, empty stamp", "plain.exe", kUnversioned.c_str(), nullptr, "", "",
                      true},
        FreshnessCase{"no version, a stamp", "plain.exe", kUnversioned.c_str(), nullptr, "",
                      "202103150930", false}));

// The first wait of the provisioning lasts until the started program has left a
// trace: the library, or the mark of the test program.
bool AnyExists(const std::vector<std::string>& paths) {
  return std::ranges::any_of(paths, [](const std::string& path) { return fs::exists(path); });
}

class EnsureArchiveLibraryTest : public testing::Test {
 protected:
  ~EnsureArchiveLibraryTest() override {
    // A test program started in the extractor's place waits to be ended.
    kalo::test::EndStartedProgram(folder_ / "unzip32.exe");
  }

  void SetUp() override {
    ui_.settled = [this] {
      return AnyExists({folder_ / "unzip32.dll", folder_ / "unzip32.exe.started"});
    };
  }

  bool Ensure() {
    return cImpLicencas::EnsureArchiveLibrary({fs_, resources_, processes_, ui_, clock_},
                                              folder_.Path().string(), "unzip32", "dll");
  }

  TempFolder folder_;
  kalo::platform::FileSystem fs_;
  const kalo::platform::CarriedResources resources_{kalo::CarriedExtractors()};
  kalo::platform::ProcessTable processes_;
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
};

TEST_F(EnsureArchiveLibraryTest, PresentLibraryIsLeftAlone) {
  folder_.Write("unzip32.dll", "already here");
  EXPECT_TRUE(Ensure());
  EXPECT_FALSE(fs::exists(folder_ / "unzip32.exe"));
  EXPECT_EQ(ui_.pumps, 0);
}

TEST_F(EnsureArchiveLibraryTest, MissingLibrariesComeFromTheCarriedExtractors) {
  const auto before = clock_.Now();
  EXPECT_TRUE(Ensure());
  EXPECT_EQ(clock_.Now() - before, 3s);
  EXPECT_EQ(ReadWholeFile(folder_ / "unzip32.dll"), ReadWholeFile(KALO_UNZIP32_LIBRARY));
  // The extractor stays, executable, for a later provisioning.
  EXPECT_NE(fs::status(folder_ / "unzip32.exe").permissions() & fs::perms::owner_exec,
            fs::perms::none);

  kalo::test::FakeUi ui(&clock_);
  ui.settled = [this] { return AnyExists({folder_ / "zip32.dll"}); };
  EXPECT_TRUE(cImpLicencas::EnsureArchiveLibrary({fs_, resources_, processes_, ui, clock_},
                                                 folder_.Path().string(), "zip32", "dll"));
  EXPECT_EQ(ReadWholeFile(folder_ / "zip32.dll"), ReadWholeFile(KALO_ZIP32_LIBRARY));
}

TEST_F(EnsureArchiveLibraryTest, ExtractorAlreadyThereIsStartedNotRewritten) {
  // A program in the extractor's place that never writes the library: too slow.
  kalo::test::CopyTestProgram(folder_ / "unzip32.exe");
  const std::string before = ReadWholeFile(folder_ / "unzip32.exe");
  EXPECT_FALSE(Ensure());
  EXPECT_TRUE(kalo::test::WaitUntilStarted(folder_ / "unzip32.exe"));
  EXPECT_EQ(ReadWholeFile(folder_ / "unzip32.exe"), before);
  EXPECT_FALSE(fs::exists(folder_ / "unzip32.dll"));
}

TEST_F(EnsureArchiveLibraryTest, BrokenLibrariesAndExtractorsAreProvidedAfresh) {
  const cImpLicencas::ProvisioningServices services{fs_, resources_, processes_, ui_, clock_};
  const std::string folder = folder_.Path().string();
  struct Case {
    const char* what;
    std::optional<std::string> library;  // what stands as unzip32.dll
    bool executable_extractor;
  };
  // The zip library is a real library, but without the unzip library's function.
  const std::string zip_library = ReadWholeFile(KALO_ZIP32_LIBRARY);
  // Cut short, as a copy interrupted by a full disk leaves it: its headers declare more
  // than the file holds (64 KiB ends inside its code on every system).
  const std::string short_library = ReadWholeFile(KALO_UNZIP32_LIBRARY).substr(0, 64 * 1024);
  const std::vector<Case> cases{
      {"extractor that cannot start", std::nullopt, false},
      {"library is no library", "not a library", true},
      {"library without its function", zip_library, false},
      {"library cut short", short_library, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(folder_ / "unzip32.dll");
    // No system can start it: no program, no script (wine runs scripts as Unix programs).
    // Writable either way: a Windows file without write permission is read-only.
    folder_.Write("unzip32.exe", "not a program\n");
    fs::permissions(folder_ / "unzip32.exe", c.executable_extractor
                                                 ? fs::perms::owner_all
                                                 : fs::perms::owner_read | fs::perms::owner_write);
    if (c.library) {
      folder_.Write("unzip32.dll", *c.library);
    }
    // The libraries are loaded at the first unpack, and repaired there once.
    cImpZipDeclares::ArchiveLibraries libraries(
        folder, cImpLicencas::RepairFromCarriedExtractors(services, folder));
    if (!c.library) {
      EXPECT_TRUE(Ensure());
    }
    EXPECT_NO_THROW(libraries.Unzip().Function("Wiz_SingleEntryUnzip"));
    EXPECT_EQ(ReadWholeFile(folder_ / "unzip32.dll"), ReadWholeFile(KALO_UNZIP32_LIBRARY));
  }

  // Without a repair, or when the repair cannot help, the failure is the caller's.
  folder_.Write("unzip32.dll", "not a library");
  cImpZipDeclares::ArchiveLibraries unrepaired(folder);
  EXPECT_THROW(unrepaired.Unzip(), kalo::Error);
  cImpZipDeclares::ArchiveLibraries hopeless(folder, [](const std::string&) {});
  EXPECT_THROW(hopeless.Unzip(), kalo::Error);
}

}  // namespace
