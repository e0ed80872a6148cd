// The zip object: the options of both archive libraries as properties, a list of
// files to zip, and the two operations, building an archive and extracting one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_libraries.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "support/failure.h"

class cImpZipCompact {
 public:
  // The libraries and the window are borrowed; they must outlive the object.
  cImpZipCompact(cImpZipDeclares::ArchiveLibraries& libraries, kalo::platform::Ui& ui);

  bool RecurseFolders() const { return recurse_folders_ == 1; }
  void SetRecurseFolders(bool bRecurse) { recurse_folders_ = bRecurse ? 1 : 0; }
  bool Encrypted() const { return encrypted_ == 1; }
  void SetEncrypted(bool bEncrypt) { encrypted_ = bEncrypt ? 1 : 0; }
  bool IncludeSystemFiles() const { return include_system_files_ == 1; }
  void SetIncludeSystemFiles(bool bInclude) { include_system_files_ = bInclude ? 1 : 0; }
  // The number of files in the list.
  std::int32_t ZipFileCount() const;
  const std::string& RootDirectory() const { return root_directory_; }
  void SetRootDirectory(const std::string& sRootDir) { root_directory_ = sRootDir; }
  bool UpdatingZip() const { return updating_zip_ == 1; }
  void SetUpdatingZip(bool bUpdating) { updating_zip_ = bUpdating ? 1 : 0; }
  bool ExtractNewer() const { return extract_newer_ == 1; }
  void SetExtractNewer(bool bExtractNewer) { extract_newer_ = bExtractNewer ? 1 : 0; }
  bool SpaceToUnderScore() const { return space_to_underscore_ == 1; }
  void SetSpaceToUnderScore(bool bConvert) { space_to_underscore_ = bConvert ? 1 : 0; }
  bool PromptOverwrite() const { return prompt_overwrite_ == 1; }
  void SetPromptOverwrite(bool bPrompt) { prompt_overwrite_ = bPrompt ? 1 : 0; }
  std::int32_t MessageLevel() const { return message_level_; }
  void SetMessageLevel(std::int32_t iLevel) { message_level_ = iLevel; }
  bool WriteToStdOut() const { return write_to_stdout_ == 1; }
  void SetWriteToStdOut(bool bWrite) { write_to_stdout_ = bWrite ? 1 : 0; }
  bool TestZip() const { return test_zip_ == 1; }
  void SetTestZip(bool bTest) { test_zip_ = bTest ? 1 : 0; }
  std::int32_t ExtractList() const { return extract_list_; }
  void SetExtractList(std::int32_t zExType) { extract_list_ = zExType; }
  bool ExtractOnlyNewer() const { return extract_only_newer_ == 1; }
  void SetExtractOnlyNewer(bool bOnlyNewer) { extract_only_newer_ = bOnlyNewer ? 1 : 0; }
  bool DisplayComment() const { return display_comment_ == 1; }
  void SetDisplayComment(bool bDisplay) { display_comment_ = bDisplay ? 1 : 0; }
  bool HonorDirectories() const { return honor_directories_ == 1; }
  void SetHonorDirectories(bool bHonor) { honor_directories_ = bHonor ? 1 : 0; }
  bool OverWriteFiles() const { return overwrite_files_ == 1; }
  void SetOverWriteFiles(bool bOverWrite) { overwrite_files_ = bOverWrite ? 1 : 0; }
  bool ConvertCRtoCRLF() const { return convert_cr_to_crlf_ == 1; }
  void SetConvertCRtoCRLF(bool bConvert) { convert_cr_to_crlf_ = bConvert ? 1 : 0; }
  bool Verbose() const { return verbose_ == 1; }
  void SetVerbose(bool bVerbose) { verbose_ = bVerbose ? 1 : 0; }
  bool CaseSensitive() const { return case_sensitive_ == 1; }
  void SetCaseSensitive(bool bCaseSensitive) { case_sensitive_ = bCaseSensitive ? 1 : 0; }
  std::int32_t Privilege() const { return privilege_; }
  void SetPrivilege(std::int32_t zPriv) { privilege_ = zPriv; }
  const std::string& ZipFileName() const { return zip_file_name_; }
  void SetZipFileName(const std::string& sZipFileName) { zip_file_name_ = sZipFileName; }
  const std::string& ExtractDir() const { return extract_dir_; }
  void SetExtractDir(const std::string& sExtractDir) { extract_dir_ = sExtractDir; }

  // Adds a file to the list; a name already there (in any letter case) is an error.
  void AddFile(const std::string& sFileName);
  // Removes a file from the list; a name not there is an error.
  void RemoveFile(const std::string& sFileName);
  // Builds ZipFileName from the list; answers the zip library's result.
  std::int32_t MakeZipFile();
  // Extracts the archive into the folder (empty arguments keep the stored ones);
  // answers the unzip library's result, 0 for success.
  std::int32_t Unzip(const std::string& sZipFileName, const std::string& sExtractDir);
  // What the archive libraries printed during the latest run of any zip object.
  std::string GetLastMessage() const;

 private:
  struct FileEntry {
    std::string item;
    std::string key;
  };
  std::vector<FileEntry>::iterator FindFile(const std::string& key);

  cImpZipDeclares::ArchiveLibraries& libraries_;
  kalo::platform::Ui& ui_;
  // The list starts with a placeholder entry that is never counted and never zipped.
  std::vector<FileEntry> file_list_;

  std::int16_t recurse_folders_ = 0;
  std::int16_t encrypted_ = 0;
  std::int16_t include_system_files_ = 0;
  std::string root_directory_ = "\\";
  std::int16_t updating_zip_ = 0;
  std::int16_t extract_newer_ = 0;
  std::int16_t space_to_underscore_ = 0;
  std::int16_t prompt_overwrite_ = 0;
  std::int32_t message_level_ = 2;
  std::int16_t write_to_stdout_ = 0;
  std::int16_t test_zip_ = 0;
  std::int32_t extract_list_ = 0;
  std::int16_t extract_only_newer_ = 0;
  std::int16_t display_comment_ = 0;
  std::int16_t honor_directories_ = 1;
  std::int16_t overwrite_files_ = 1;
  std::int16_t convert_cr_to_crlf_ = 0;
  std::int16_t verbose_ = 0;
  std::int16_t case_sensitive_ = 1;
  std::int32_t privilege_ = 0;
  std::string zip_file_name_;
  std::string extract_dir_;
};

namespace cImpZipDeclares {

// Unpacks the archive into the folder, every entry straight into it without its
// stored folders, replacing files without asking; then waits two seconds. Nothing when
// the unzip library reported success; else the library's own words, for the caller to
// name the step. Errors (a missing library) pass through with the source
// "clsZipUn::Unzip".
[[nodiscard]] std::optional<kalo::Failure> UnzipToFolder(ArchiveLibraries& libraries,
                                                         kalo::platform::Ui& ui,
                                                         const kalo::platform::Clock& clock,
                                                         const std::string& archive,
                                                         const std::string& folder);

// What the archive's entries say they hold, added up (an entry of 2 GiB or more
// counts as 2 GiB); nothing when the unzip library cannot list the archive. Errors (a
// missing library) pass through with the source "clsZipUn::Unzip".
std::optional<std::uint64_t> DeclaredUnpackedSize(ArchiveLibraries& libraries,
                                                  kalo::platform::Ui& ui,
                                                  const std::string& archive);

// True when `name` (without folder) is a file the unzip library is still writing:
// it writes every file under such a name and renames it into place when complete.
bool IsUnpackTemporary(std::string_view name);

}  // namespace cImpZipDeclares
