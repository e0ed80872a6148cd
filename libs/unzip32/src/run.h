// One call of Wiz_SingleEntryUnzip: the walk over the archive's entries and what each
// command field makes of them.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "entry_data.h"
#include "output_files.h"
#include "unzip32.h"

namespace kalo::unzip32 {

// The texts of a call, in UTF-8.
struct RunTexts {
  std::string archive;
  std::string destination;  // Empty when none was given.
  std::vector<std::string> includes;
  std::vector<std::string> excludes;
};

class Run {
 public:
  Run(const UnzipCommand& command, UnzipCallbacks& callbacks, RunTexts texts);

  // Returns the result code and fills the totals of the callback record.
  int32_t Execute();

 private:
  enum class Mode { kList, kTest, kPrint, kExtract };

  struct Entry {
    zip_uint64_t index = 0;
    std::string name;
    zip_uint64_t size = 0;
    zip_uint64_t compressed_size = 0;
    std::optional<std::time_t> mtime;
    std::uint32_t crc = 0;
    std::uint16_t method = 0;
    std::optional<FileMode> mode;  // The stored Unix permission bits, when there are any.
    bool is_folder = false;
    bool is_link = false;
    bool encrypted = false;
  };

  using Consumer = std::function<DataOutcome(EntryStream&)>;

  int32_t Walk();
  bool ReadEntry(zip_uint64_t index, Entry& entry);
  bool Selected(const std::string& name);
  void List(const Entry& entry);
  void Test(const Entry& entry);
  void PrintContents(const Entry& entry);
  void Extract(const Entry& entry);
  bool ShouldWrite(const Entry& entry, const ExistingFile& existing, const std::string& shown);
  bool WithData(const Entry& entry, const std::string& shown, const Consumer& consume);
  bool AskPassword(const std::string& name, bool again, std::string& password);

  // Text for the user at `level` or above; a non-zero answer of the print callback aborts.
  void Say(int level, const std::string& text);
  bool Output(std::string_view text);
  void Note(int32_t code);
  void Fail(int32_t code, const std::string& name, const std::string& reason);
  std::string Details(const Entry& entry) const;
  void FillTotals();

  const UnzipCommand& command_;
  UnzipCallbacks& callbacks_;
  RunTexts texts_;
  std::vector<bool> include_used_;
  Mode mode_ = Mode::kExtract;
  ZipArchive archive_;
  Workspace workspace_;
  Folder destination_;
  FolderCache folders_;
  std::string remembered_password_;
  bool keep_all_existing_ = false;
  bool aborted_ = false;
  int32_t result_ = UNZIP32_OK;
  std::uint32_t selected_ = 0;
  std::uint32_t done_ = 0;
  std::uint64_t total_size_ = 0;
  std::uint64_t total_compressed_ = 0;
  std::uint32_t comment_length_ = 0;
};

}  // namespace kalo::unzip32
