#include "archive/zip_compact.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <set>

#include "archive/binding_state.h"
#include "archive/unzip_binding.h"
#include "helpers/archive_builder.h"
#include "helpers/fake_ui.h"
#include "helpers/install_folder.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"

namespace {

using kalo::platform::MessageAnswer;
using kalo::test::ReadWholeFile;
using kalo::test::TempFolder;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// An install folder holding our two libraries under their installed names.
class ZipObjectTest : public testing::Test {
 protected:
  ZipObjectTest() {
    fs::create_directory(install_.Path() / "KALO");
    kalo::test::InstallArchiveLibraries(folder_);
  }

  // Names of the entries of the archive at `path`, read with libzip.
  static std::set<std::string> EntriesOf(const std::string& path) {
    std::set<std::string> names;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
    if (archive == nullptr) {
      return names;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
      names.insert(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    }
    zip_discard(archive);
    return names;
  }

  TempFolder install_;
  const std::string folder_ = install_ / "KALO";
  cImpZipDeclares::ArchiveLibraries libraries_{folder_};
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
};

TEST_F(ZipObjectTest, DefaultsAndStorage) {
  cImpZipCompact zip(libraries_, ui_);
  EXPECT_EQ(zip.ZipFileCount(), 0);
  EXPECT_EQ(zip.RootDirectory(), "\\");
  EXPECT_EQ(zip.MessageLevel(), 2);
  EXPECT_TRUE(zip.HonorDirectories());
  EXPECT_TRUE(zip.OverWriteFiles());
  EXPECT_TRUE(zip.CaseSensitive());
  EXPECT_FALSE(zip.RecurseFolders() || zip.Encrypted() || zip.IncludeSystemFiles() ||
               zip.UpdatingZip() || zip.ExtractNewer() || zip.SpaceToUnderScore() ||
               zip.PromptOverwrite() || zip.WriteToStdOut() || zip.TestZip() ||
               zip.ExtractOnlyNewer() || zip.DisplayComment() || zip.ConvertCRtoCRLF() ||
               zip.Verbose());
  EXPECT_EQ(zip.ExtractList(), 0);
  EXPECT_EQ(zip.Privilege(), 0);
  EXPECT_EQ(zip.ZipFileName(), "");
  zip.SetEncrypted(true);
  zip.SetHonorDirectories(false);
  EXPECT_TRUE(zip.Encrypted());
  EXPECT_FALSE(zip.HonorDirectories());
}

TEST_F(ZipObjectTest, FileListKeysIgnoreCase) {
  cImpZipCompact zip(libraries_, ui_);
  zip.AddFile("a.txt");
  const auto expect_error = [&zip](auto operation, std::int32_t number, const char* source,
                                   const char* description) {
    try {
      operation(zip);
      ADD_FAILURE() << "no error from " << source;
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), number);
      EXPECT_EQ(error.Source(), source);
      EXPECT_EQ(error.Description(), description);
    }
  };
  expect_error([](cImpZipCompact& z) { z.AddFile("A.TXT"); }, -2147219503, "CGZip::AddFile",
               "File is already in Zip List");
  expect_error([](cImpZipCompact& z) { z.AddFile("querty"); }, -2147219503, "CGZip::AddFile",
               "File is already in Zip List");
  expect_error([](cImpZipCompact& z) { z.RemoveFile("b.txt"); }, -2147219502, "CGZip::RemoveFile",
               "File is not in Zip List");
  EXPECT_EQ(zip.ZipFileCount(), 1);
  zip.RemoveFile("A.txt");
  EXPECT_EQ(zip.ZipFileCount(), 0);
}

TEST_F(ZipObjectTest, MakeZipFileZipsTheListButNeverThePlaceholder) {
  const TempFolder work;
  work.Write("a.txt", "alpha");
  work.Write("querty", "an unrelated file named like the placeholder");
  fs::create_directory(work.Path() / "sub");
  work.Write("sub/b.txt", "beta");
  const fs::path previous = fs::current_path();
  fs::current_path(work.Path());

  cImpZipCompact zip(libraries_, ui_);
  zip.SetZipFileName(work / "out.zip");
  zip.SetRecurseFolders(true);
  zip.AddFile("a.txt");
  zip.AddFile("sub");
  const std::int32_t result = zip.MakeZipFile();
  fs::current_path(previous);

  EXPECT_EQ(result, 0);
  const auto entries = EntriesOf(work / "out.zip");
  EXPECT_TRUE(entries.contains("a.txt"));
  EXPECT_TRUE(entries.contains("sub/b.txt"));
  EXPECT_FALSE(entries.contains("querty"));
  EXPECT_NE(zip.GetLastMessage().find("a.txt"), std::string::npos);
}

TEST_F(ZipObjectTest, MakeZipFileErrors) {
  cImpZipCompact zip(libraries_, ui_);
  for (int i = 0; i < 100; ++i) {
    zip.AddFile("file" + std::to_string(i));
  }
  try {
    zip.MakeZipFile();
    ADD_FAILURE() << "101 list entries fit";
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kSubscriptOutOfRange);
    EXPECT_EQ(error.Source(), "clsZip::MakeZipFile");
  }
  // Without the library the zip call is skipped: no error, result 0, nothing printed.
  const TempFolder empty;
  cImpZipDeclares::ArchiveLibraries missing(empty.Path().string());
  cImpZipCompact no_library(missing, ui_);
  no_library.SetZipFileName(empty / "out.zip");
  no_library.AddFile(empty / "nothing");
  EXPECT_EQ(no_library.MakeZipFile(), 0);
  EXPECT_EQ(no_library.GetLastMessage(), "");
  EXPECT_FALSE(fs::exists(empty / "out.zip"));
}

TEST_F(ZipObjectTest, UnzipErrorsCarryTheObjectsSource) {
  const TempFolder empty;
  cImpZipDeclares::ArchiveLibraries missing(empty.Path().string());
  for (auto [level, number] :
       {std::pair{40000, kalo::error_number::kOverflow}, {2, kalo::error_number::kFileNotFound}}) {
    cImpZipCompact zip(missing, ui_);
    zip.SetMessageLevel(level);
    try {
      zip.Unzip(empty / "a.zip", empty.Path().string());
      ADD_FAILURE() << "no error";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), number);
      EXPECT_EQ(error.Source(), "clsZipUn::Unzip");
    }
    EXPECT_EQ(zip.ZipFileName(), empty / "a.zip");  // stored before the failure
  }
  // A library without the function is an error of its own.
  fs::copy_file(KALO_ZIP32_LIBRARY, empty / "unzip32.dll");
  cImpZipDeclares::ArchiveLibraries wrong(empty.Path().string());
  cImpZipCompact zip(wrong, ui_);
  try {
    zip.Unzip(empty / "a.zip", empty.Path().string());
    ADD_FAILURE() << "no error";
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kEntryPointNotFound);
    EXPECT_EQ(error.Source(), "clsZipUn::Unzip");
  }
  // The error passes through UnzipToFolder, which then does not wait.
  const auto before = clock_.Now();
  EXPECT_THROW(static_cast<void>(cImpZipDeclares::UnzipToFolder(
                   missing, ui_, clock_, empty / "a.zip", empty.Path().string())),
               kalo::Error);
  EXPECT_EQ(clock_.Now(), before);
}

TEST_F(ZipObjectTest, UnzipToFolderUnpacksFlatAndWaits) {
  const TempFolder work;
  kalo::test::ArchiveBuilder archive;
  archive.AddFile("bin/acme.exe", "program");
  archive.AddFile("data/logo.jpg", "jpeg");
  archive.Write(work / "acme.zip");
  fs::create_directory(work.Path() / "out");
  const auto before = clock_.Now();
  EXPECT_EQ(
      cImpZipDeclares::UnzipToFolder(libraries_, ui_, clock_, work / "acme.zip", work / "out"),
      std::nullopt);
  EXPECT_EQ(clock_.Now() - before, 2s);
  EXPECT_EQ(ReadWholeFile(work / "out/acme.exe"), "program");
  EXPECT_EQ(ReadWholeFile(work / "out/logo.jpg"), "jpeg");
  EXPECT_FALSE(fs::exists(work / "out/bin"));
  EXPECT_FALSE(cImpZipDeclares::TheBindingState().last_message.empty());

  work.Write("broken.zip", "PK\x03\x04 not really an archive");
  const auto failure =
      cImpZipDeclares::UnzipToFolder(libraries_, ui_, clock_, work / "broken.zip", work / "out");
  ASSERT_TRUE(failure);
  // The library's words; the caller names the step.
  EXPECT_NE(failure->reason.find("Not a zip archive"), std::string::npos) << failure->reason;
  EXPECT_EQ(failure->step, "");
  EXPECT_EQ(clock_.Now() - before, 4s);
}

TEST_F(ZipObjectTest, OverwriteQuestionGoesThroughTheWindow) {
  const TempFolder work;
  kalo::test::ArchiveBuilder archive;
  archive.AddFile("a.txt", "new a");
  archive.AddFile("b.txt", "new b");
  archive.AddFile("c.txt", "new c");
  archive.Write(work / "abc.zip");
  fs::create_directory(work.Path() / "out");
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    work.Write(std::string("out/") + name, "old");
  }
  ui_.answers = {MessageAnswer::kYes, MessageAnswer::kNo, MessageAnswer::kYes};
  cImpZipCompact zip(libraries_, ui_);
  zip.SetOverWriteFiles(false);
  zip.SetPromptOverwrite(true);
  zip.Unzip(work / "abc.zip", work / "out");
  ASSERT_EQ(ui_.messages.size(), 3u);
  EXPECT_EQ(ui_.messages[0].title, "VBUnZip32 - File Already Exists!");
  EXPECT_EQ(ui_.messages[0].style, kalo::platform::MessageStyle::kExclamationYesNoCancel);
  EXPECT_TRUE(ui_.messages[0].text.starts_with("Overwrite "));
  EXPECT_TRUE(ui_.messages[0].text.ends_with("a.txt?"));
  EXPECT_EQ(ReadWholeFile(work / "out/a.txt"), "new a");
  EXPECT_EQ(ReadWholeFile(work / "out/b.txt"), "old");
  EXPECT_EQ(ReadWholeFile(work / "out/c.txt"), "new c");
}

TEST_F(ZipObjectTest, PasswordIsAskedUntilRefusedOncePerExtraction) {
  const TempFolder work;
  const auto kSecret =
      kalo::test::EntryOptions().Encrypted(kalo::test::Encryption::kAes256, "s3cret");
  kalo::test::ArchiveBuilder archive;
  archive.AddFile("one.txt", "first secret", kSecret);
  archive.AddFile("two.txt", "second secret", kSecret);
  archive.Write(work / "secret.zip");
  fs::create_directory(work.Path() / "out");

  cImpZipCompact zip(libraries_, ui_);
  ui_.text_answers = {""};  // refused: not asked again in this extraction
  EXPECT_NE(zip.Unzip(work / "secret.zip", work / "out"), 0);
  EXPECT_EQ(ui_.prompts.size(), 1u);
  EXPECT_EQ(ui_.prompts[0], "Please Enter The Password!|");
  EXPECT_FALSE(fs::exists(work / "out/one.txt"));

  ui_.text_answers = {"s3cret"};  // the next extraction asks again
  EXPECT_EQ(zip.Unzip("", ""), 0);
  EXPECT_GE(ui_.prompts.size(), 2u);
  EXPECT_EQ(ReadWholeFile(work / "out/two.txt"), "second secret");
}

TEST(UnzipCallbacks, PrintRuleAndLastMessage) {
  auto& state = cImpZipDeclares::TheBindingState();
  state.print_text.clear();
  cImpZipDeclares::UnzipPrint("  inflating: a.txt\n", 19);
  cImpZipDeclares::UnzipPrint("\nanything after the line feed", 30);
  cImpZipDeclares::UnzipPrint("cut here", 3);
  EXPECT_EQ(state.print_text, "  inflating: a.txt\n\r\ncut");
  EXPECT_EQ(state.last_message, state.print_text);
}

TEST(UnzipCallbacks, PasswordAlwaysFitsWithItsNul) {
  kalo::test::FakeUi ui;
  const cImpZipDeclares::ActiveUi active(ui);
  auto& state = cImpZipDeclares::TheBindingState();
  state.password_refused = 0;
  char buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 'x');
  ui.text_answers = {"abcdefghij"};
  EXPECT_EQ(cImpZipDeclares::UnzipPassword(buffer, 4, "prompt", "entry"), 0);
  EXPECT_EQ(std::string(buffer, 4), std::string("abc\0", 4));
  EXPECT_EQ(buffer[4], 'x');  // nothing written past the given size
}

}  // namespace
