// Wiz_SingleEntryUnzip where only a POSIX system can tell: Unix modes and the umask,
// names only Windows refuses, symbolic links in the destination, and archives of
// libarchive, which has no Windows build here.
#include <sys/stat.h>

#include <optional>
#include <string>

#include "helpers/libarchive_zip.h"
#include "helpers/windows_names.h"
#include "libs/unzip32_fixture.h"

namespace kalo::test {
namespace {

// Sets the process umask for one test, so expected modes do not depend on the caller's.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;
  ~UmaskGuard() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST_F(Unzip32Test, ModesComeFromTheEntryOrItsNameOrTheFileItReplaces) {
  // Group write survives umask 002, so a stored 0777 stays apart from 0755.
  const UmaskGuard umask_guard(002);
  const EntryOptions no_mode = EntryOptions().NoUnixMode();
  struct Case {
    std::string name;
    EntryOptions options;
    std::optional<mode_t> existing;  // The mode of a file already in place.
    mode_t written;
  } cases[] = {
      {"tool.exe", no_mode, std::nullopt, 0755},
      {"TOOL.EXE", no_mode, std::nullopt, 0755},
      {"setup.exe", no_mode, 0600, 0755},
      {"data.txt", no_mode, std::nullopt, 0644},
      {"kept.txt", no_mode, 0755, 0755},
      {"stored.txt", EntryOptions().Mode(0640), 0755, 0640},
      {"setuid", EntryOptions().Mode(04755), std::nullopt, 0755},
      {"setgid", EntryOptions().Mode(02755), std::nullopt, 0755},
      {"sticky", EntryOptions().Mode(01777), std::nullopt, 0775},
      // A program may be executed by whoever may read it, or the hand-over fails.
      {"acme.exe", EntryOptions().Mode(0600), std::nullopt, 0700},
      {"Acme2.EXE", EntryOptions().Mode(0644), 0600, 0755},
      {"runexe", EntryOptions().Mode(0640), std::nullopt, 0750},
      {"exe.txt", EntryOptions().Mode(0644), std::nullopt, 0644},
      // Special types become plain files with the entry's bytes.
      {"fifo.exe", EntryOptions().Mode(010644), std::nullopt, 0755},
      {"chardev", EntryOptions().Mode(020640), std::nullopt, 0640},
      {"blockdev", EntryOptions().Mode(060644), std::nullopt, 0644},
      {"socket", EntryOptions().Mode(0140600), std::nullopt, 0600},
  };
  ArchiveBuilder archive;
  fs::create_directory(out_);
  for (const Case& c : cases) {
    archive.AddFile(c.name, "new", c.options);
    if (c.existing) {
      fs::permissions(temp_.Write("out/" + c.name, "old"), static_cast<fs::perms>(*c.existing));
    }
  }
  ASSERT_EQ(Unzip(archive.Write(zip_)), UNZIP32_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat info {};
    ASSERT_EQ(::lstat(Out(c.name).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, c.written);
    EXPECT_EQ(ReadWholeFile(Out(c.name)), "new");
  }
}

// What Windows cannot hold, Linux holds: "a:b" or "con" is just a name there.
TEST_F(Unzip32Test, NamesWindowsCannotHoldAreWrittenAsTheyAre) {
  ArchiveBuilder archive;
  Files names;
  for (const WindowsNameCase& c : WindowsNames()) {
    archive.AddFile(c.name, c.name);
    names.insert(c.name);
  }
  ASSERT_EQ(Unzip(archive.Write(zip_)), UNZIP32_OK) << calls_.printed;
  EXPECT_EQ(Tree(out_), names);
  EXPECT_EQ(ReadWholeFile(Out("a.txt:stream")), "a.txt:stream");
}

TEST_F(Unzip32Test, LinksInTheDestinationLeadNowhere) {
  // "dir" and "file.txt" in the destination are links to the outside folder and its file:
  // the folder fails the entry, the file link is replaced by the file.
  ExpectConfined({{ArchiveBuilder().AddFile("dir/x", "x").AddFile("file.txt", "new"),
                   [this] {
                     fs::create_directory_symlink(Outside(""), Out("dir"));
                     fs::create_symlink(Outside("target.txt"), Out("file.txt"));
                   },
                   UNZIP32_WRITE_FAILED, Files{"dir ->", "file.txt"}}});
  EXPECT_EQ(ReadWholeFile(Out("file.txt")), "new");
}

TEST_F(Unzip32Test, UnpacksArchivesOfLibarchive) {
  const auto libarchive = [](LibarchiveZipOptions options) {
    return [options](const std::string& path, const Contents& contents) {
      WriteLibarchiveZip(path, contents, options);
    };
  };
  // libarchive writes data descriptors; the local header then leaves the CRC (and with
  // encryption the password check byte's source) to the descriptor and the central
  // directory, which libzip's consistency check used to refuse.
  const WriterCase cases[] = {
      {"deflated", libarchive({}), false, true, false, false},
      {"stored", libarchive({false, false, ""}), true, true, false, false},
      {"zip64", libarchive({true, true, ""}), false, true, true, false},
      {"encrypted deflated", libarchive({true, false, "pw"}), false, true, false, true},
      {"encrypted stored", libarchive({false, false, "pw"}), false, true, false, true},
  };
  for (const WriterCase& c : cases) {
    ExpectUnpacks(c);
  }
}

}  // namespace
}  // namespace kalo::test
