#include "run.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "caller_text.h"
#include "entry_names.h"
#include "local_time.h"
#include "wildcard.h"

namespace kalo::unzip32 {
namespace {

// The password buffer as the caller sees it, plus one byte that always stays NUL, so an
// answer filling every byte still ends.
constexpr int32_t kPasswordBufferSize = 257;
constexpr int kMaxPasswordAsks = 3;
constexpr std::size_t kReplaceBufferSize = 4097;
// Callers copy printed text into fixed buffers, so no single print call is longer.
constexpr std::size_t kMaxPrintChunk = 4000;

// The file type in the upper half of the external attributes of entries made on Unix.
constexpr std::uint32_t kUnixTypeBits = 0170000;
constexpr std::uint32_t kUnixFolder = 0040000;
constexpr std::uint32_t kUnixLink = 0120000;

// The order in which outcomes of single entries win the run's result.
int Severity(int32_t code) {
  switch (code) {
    case UNZIP32_ABORTED:
      return 5;
    case UNZIP32_BAD_ARCHIVE:
      return 4;
    case UNZIP32_WRITE_FAILED:
      return 3;
    case UNZIP32_BAD_PASSWORD:
      return 2;
    case UNZIP32_WARNING:
      return 1;
    default:
      return 0;
  }
}

std::uint32_t Clamp32(std::uint64_t value) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

std::uint16_t SavedPercent(std::uint64_t size, std::uint64_t compressed) {
  if (size == 0 || compressed >= size) {
    return 0;
  }
  return static_cast<std::uint16_t>((size - compressed) * 100 / size);
}

const char* MethodName(std::uint16_t method) {
  switch (method) {
    case ZIP_CM_STORE:
      return "Stored";
    case ZIP_CM_DEFLATE:
      return "Deflate";
    case ZIP_CM_DEFLATE64:
      return "Deflate64";
    case ZIP_CM_BZIP2:
      return "BZip2";
    case ZIP_CM_LZMA:
      return "LZMA";
    case ZIP_CM_XZ:
      return "XZ";
    default:
      return "Unknown";
  }
}

std::string JoinPath(const std::vector<std::string>& folders, const std::string& last) {
  std::string path;
  for (const std::string& folder : folders) {
    path += folder + "/";
  }
  return path + last;
}

int32_t OpenFailureCode(int zip_error) {
  switch (zip_error) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
      return UNZIP32_ARCHIVE_NOT_FOUND;
    case ZIP_ER_MEMORY:
      return UNZIP32_ABORTED;
    default:
      return UNZIP32_BAD_ARCHIVE;
  }
}

// Programs must start after an update, whatever the archiver stored: a name ending in
// "exe" (any case) may be executed by whoever may read it, and without a Unix mode (made
// on Windows, say) gets 0755. Other files without one keep the permissions of the file
// they replace.
FileMode ModeOf(const std::optional<FileMode>& stored, const std::string& file,
                const ExistingFile& existing) {
  constexpr std::string_view kProgramEnding = "exe";
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
  const bool program = file.size() >= kProgramEnding.size() &&
                       std::equal(kProgramEnding.begin(), kProgramEnding.end(),
                                  file.end() - static_cast<std::ptrdiff_t>(kProgramEnding.size()),
                                  [&](char ending, char c) { return ending == lower(c); });
  if (!stored) {
    return program ? 0755 : existing.mode.value_or(0644);
  }
  return program ? *stored | ((*stored & 0444) >> 2) : *stored;
}

// Stores that the compiler may not drop, although nothing reads the buffer afterwards.
void Wipe(char* bytes, std::size_t size) {
  volatile char* const wiped = bytes;
  for (std::size_t i = 0; i < size; ++i) {
    wiped[i] = '\0';
  }
}

// Deflated entries are inflated here, faster than through libzip's reader; libzip
// decrypts, and decodes the other methods.
Encoding EncodingOf(bool encrypted, std::uint16_t method) {
  return !encrypted && method == ZIP_CM_DEFLATE ? Encoding::kDeflated : Encoding::kDecoded;
}

}  // namespace

Run::Run(const UnzipCommand& command, UnzipCallbacks& callbacks, RunTexts texts)
    : command_(command),
      callbacks_(callbacks),
      texts_(std::move(texts)),
      include_used_(texts_.includes.size(), false) {
  // One mode per run; the order settles combinations such as listing while testing.
  if (command_.ExtractList != 0) {
    mode_ = Mode::kList;
  } else if (command_.TestZip != 0) {
    mode_ = Mode::kTest;
  } else if (command_.WriteToStdOut != 0) {
    mode_ = Mode::kPrint;
  }
}

int32_t Run::Execute() {
  const int32_t result = Walk();
  FillTotals();
  return result;
}

int32_t Run::Walk() {
  const std::string& archive_name = texts_.archive;
  if (mode_ == Mode::kExtract && texts_.destination.empty()) {
    Say(1, "error: no destination folder given\n");
    return UNZIP32_BAD_PARAMETERS;
  }
  int error = 0;
  archive_.reset(zip_open(archive_name.c_str(), ZIP_RDONLY, &error));
  if (!archive_) {
    Say(1, "error: cannot open " + archive_name + ": " + ZipErrorText(error) + "\n");
    return OpenFailureCode(error);
  }
  Say(2, "Archive:  " + archive_name + "\n");
  int comment_length = 0;
  const char* comment = zip_get_archive_comment(archive_.get(), &comment_length, ZIP_FL_ENC_RAW);
  comment_length_ = static_cast<std::uint32_t>(comment == nullptr ? 0 : comment_length);
  if (command_.DisplayComment != 0 && comment_length_ > 0) {
    const std::string text(comment, comment_length_);
    Output(text.back() == '\n' ? text : text + "\n");
  }
  if (mode_ == Mode::kExtract) {
    destination_ = OpenDestination(texts_.destination, error);
    if (!destination_.valid()) {
      Say(1, "error: cannot open the destination folder " + texts_.destination + ": " +
                 ErrorText(error) + "\n");
      return UNZIP32_WRITE_FAILED;
    }
  }

  const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
  for (zip_uint64_t index = 0; count > 0 && index < static_cast<zip_uint64_t>(count); ++index) {
    if (aborted_) {
      break;
    }
    Entry entry;
    if (!ReadEntry(index, entry)) {
      Fail(UNZIP32_BAD_ARCHIVE, "entry " + std::to_string(index), "unreadable directory record");
      continue;
    }
    if (!Selected(entry.name)) {
      continue;
    }
    ++selected_;
    total_size_ += entry.size;
    total_compressed_ += entry.compressed_size;
    if (callbacks_.Service != nullptr) {
      const std::string name = caller_text::FromUtf8(entry.name);
      if (callbacks_.Service(name.c_str(), static_cast<uint32_t>(name.size())) != 0) {
        aborted_ = true;
        break;
      }
    }
    switch (mode_) {
      case Mode::kList:
        List(entry);
        break;
      case Mode::kTest:
        Test(entry);
        break;
      case Mode::kPrint:
        PrintContents(entry);
        break;
      case Mode::kExtract:
        Extract(entry);
        break;
    }
  }
  if (aborted_) {
    Say(1, "error: stopped on request\n");
    Note(UNZIP32_ABORTED);
    return result_;
  }
  for (std::size_t i = 0; i < texts_.includes.size(); ++i) {
    if (!include_used_[i]) {
      Say(1, "warning: no entry matches " + texts_.includes[i] + "\n");
      Note(UNZIP32_WARNING);
    }
  }
  if (selected_ == 0 && result_ != UNZIP32_BAD_ARCHIVE) {
    Say(1, "error: no entries to process in " + archive_name + "\n");
    return UNZIP32_NO_MATCH;
  }
  static constexpr std::array<const char*, 4> kVerbs = {"listed", "tested", "written out",
                                                        "extracted"};
  Say(1, std::to_string(done_) + " of " + std::to_string(selected_) + " entries " +
             kVerbs[static_cast<std::size_t>(mode_)] + ".\n");
  if (command_.Verbose != 0) {
    Say(1, "Total: " + std::to_string(total_size_) + " bytes, " +
               std::to_string(total_compressed_) + " compressed (" +
               std::to_string(SavedPercent(total_size_, total_compressed_)) + "% saved).\n");
  }
  return result_;
}

bool Run::ReadEntry(zip_uint64_t index, Entry& entry) {
  zip_stat_t stat;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  constexpr zip_uint64_t kNeeded = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE;
  if (zip_stat_index(archive_.get(), index, 0, &stat) != 0 || (stat.valid & kNeeded) != kNeeded ||
      zip_file_get_external_attributes(archive_.get(), index, 0, &system, &attributes) != 0) {
    zip_error_clear(archive_.get());
    return false;
  }
  entry.index = index;
  entry.name = stat.name;
  entry.size = stat.size;
  entry.compressed_size = stat.comp_size;
  if ((stat.valid & ZIP_STAT_MTIME) != 0) {
    entry.mtime = stat.mtime;
  }
  entry.crc = (stat.valid & ZIP_STAT_CRC) != 0 ? stat.crc : 0;
  entry.method = (stat.valid & ZIP_STAT_COMP_METHOD) != 0 ? stat.comp_method : 0;
  entry.encrypted =
      (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE;
  // Only Unix archivers store a mode (Extract picks one for the others); the setuid,
  // setgid and sticky bits are dropped on purpose, since nothing unpacked should gain
  // privileges.
  const std::uint32_t unix_mode = system == ZIP_OPSYS_UNIX ? attributes >> 16 : 0;
  if ((unix_mode & 0777) != 0) {
    entry.mode = unix_mode & 0777;
  }
  // Links are skipped; other special types (FIFO, device, socket) are written as plain
  // files with the entry's bytes, since the library makes nothing but files and folders.
  entry.is_link = (unix_mode & kUnixTypeBits) == kUnixLink;
  entry.is_folder =
      (unix_mode & kUnixTypeBits) == kUnixFolder ||
      (!entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\'));
  return true;
}

bool Run::Selected(const std::string& name) {
  // Name lists take [sets], and names written on Windows may separate with backslashes.
  const wildcard::Rules rules{
      .sets = true, .ignore_ascii_case = command_.CaseSensitive == 0, .backslash_is_slash = true};
  bool included = texts_.includes.empty();
  for (std::size_t i = 0; i < texts_.includes.size(); ++i) {
    if (wildcard::Matches(texts_.includes[i], name, rules)) {
      include_used_[i] = true;
      included = true;
    }
  }
  return included &&
         std::none_of(texts_.excludes.begin(), texts_.excludes.end(),
                      [&](const std::string& p) { return wildcard::Matches(p, name, rules); });
}

void Run::List(const Entry& entry) {
  const std::tm when = LocalTime(entry.mtime.value_or(0));
  const auto month = static_cast<uint16_t>(when.tm_mon + 1);
  const auto day = static_cast<uint16_t>(when.tm_mday);
  const auto year = static_cast<uint16_t>(when.tm_year + 1900);
  const auto hour = static_cast<uint16_t>(when.tm_hour);
  const auto minute = static_cast<uint16_t>(when.tm_min);
  if (callbacks_.ListEntry != nullptr) {
    callbacks_.ListEntry(static_cast<int32_t>(std::min<zip_uint64_t>(entry.size, INT32_MAX)),
                         Clamp32(entry.compressed_size),
                         SavedPercent(entry.size, entry.compressed_size), month, day, year, hour,
                         minute, entry.is_folder ? 1 : 0, caller_text::FromUtf8(entry.name).c_str(),
                         MethodName(entry.method), entry.crc, entry.encrypted ? 1 : 0);
  } else {
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "%10llu  %04u-%02u-%02u %02u:%02u  ",
                  static_cast<unsigned long long>(entry.size), unsigned{year}, unsigned{month},
                  unsigned{day}, unsigned{hour}, unsigned{minute});
    Output(caller_text::FromUtf8(line.data() + entry.name + "\n"));
  }
  ++done_;
}

void Run::Test(const Entry& entry) {
  const bool ok = WithData(entry, entry.name, [&entry](EntryStream& file) {
    return PumpEntry(file, entry.size, false, [](std::string_view) { return true; });
  });
  if (ok) {
    ++done_;
    Say(2, "    testing: " + entry.name + "   OK" + Details(entry) + "\n");
  }
}

void Run::PrintContents(const Entry& entry) {
  const bool ok = entry.is_folder || WithData(entry, entry.name, [&](EntryStream& file) {
                    return PumpEntry(file, entry.size, command_.ConvertCRtoCRLF != 0,
                                     [this](std::string_view bytes) { return Output(bytes); });
                  });
  if (ok) {
    ++done_;
  }
}

void Run::Extract(const Entry& entry) {
  if (entry.is_link) {
    Fail(UNZIP32_WARNING, entry.name, "symbolic link not extracted");
    return;
  }
  const std::optional<SafePath> path = MakeSafePath(
      entry.name, entry.is_folder, command_.HonorDirectories != 0, command_.SpaceToUnderScore != 0);
  if (!path || (!entry.is_folder && path->file.empty())) {
    Fail(UNZIP32_WARNING, entry.name, "unsafe or empty name, not extracted");
    return;
  }
  // Written through "\\?\" paths such names would become files that Explorer and cmd
  // can neither open nor delete, or reach a device or a stream instead.
  if (!std::all_of(path->folders.begin(), path->folders.end(), CanHoldName) ||
      (!path->file.empty() && !CanHoldName(path->file))) {
    Fail(UNZIP32_WARNING, entry.name, "name Windows cannot hold, not extracted");
    return;
  }
  const bool freshen = command_.ExtractOnlyNewer != 0;
  int error = 0;
  int created = 0;
  const Folder* folder = folders_.Open(destination_, path->folders, !freshen, error, created);
  const std::string shown = JoinPath(path->folders, path->file);
  if (folder == nullptr) {
    // Freshening creates nothing, so a missing folder only means nothing to replace.
    if (!(freshen && IsNotFound(error))) {
      Fail(UNZIP32_WRITE_FAILED, shown, ErrorText(error));
    }
    return;
  }
  if (entry.is_folder) {
    ++done_;
    if (created > 0) {
      Say(2, "   creating: " + shown + "\n");
    }
    return;
  }
  const ExistingFile existing = Inspect(*folder, path->file);
  if (existing.is_folder) {
    Fail(UNZIP32_WRITE_FAILED, shown, "a folder of that name is in the way");
    return;
  }
  if (!ShouldWrite(entry, existing, shown)) {
    return;
  }
  const FileMode mode = ModeOf(entry.mode, path->file, existing);
  int write_error = 0;
  const bool ok = WithData(entry, shown, [&](EntryStream& file) {
    PendingFile pending(*folder);
    write_error = pending.Create(mode);
    if (write_error != 0) {
      return DataOutcome{DataResult::kSinkFailed, ZIP_ER_OK};
    }
    DataOutcome outcome =
        PumpEntry(file, entry.size, command_.ConvertCRtoCRLF != 0, [&](std::string_view bytes) {
          write_error = pending.Write(bytes);
          return write_error == 0;
        });
    if (outcome.result == DataResult::kOk) {
      write_error = pending.Commit(path->file, entry.mtime);
      if (write_error != 0) {
        outcome.result = DataResult::kSinkFailed;
      }
    }
    return outcome;
  });
  if (ok) {
    ++done_;
    Say(2, "  inflating: " + shown + Details(entry) + "\n");
  } else if (write_error != 0) {
    Fail(UNZIP32_WRITE_FAILED, shown, ErrorText(write_error));
  }
}

bool Run::ShouldWrite(const Entry& entry, const ExistingFile& existing, const std::string& shown) {
  const bool newer = existing.exists && entry.mtime && *entry.mtime > existing.mtime;
  const bool freshen = command_.ExtractOnlyNewer != 0;
  if (freshen || command_.ExtractNewer != 0) {
    if (newer || (!existing.exists && !freshen)) {
      return true;
    }
    if (existing.exists) {
      Say(2, "  skipping: " + shown + "  (not newer)\n");
    }
    return false;
  }
  if (!existing.exists || command_.OverWriteFiles != 0) {
    return true;
  }
  if (command_.PromptOverwrite != 0 && !keep_all_existing_ && callbacks_.Replace != nullptr) {
    std::string path = texts_.destination;
    if (path.back() != '/') {
      path += '/';
    }
    path = caller_text::FromUtf8(path + shown);
    std::vector<char> buffer(std::max(kReplaceBufferSize, path.size() + 1), '\0');
    std::copy(path.begin(), path.end(), buffer.begin());
    const int32_t answer = callbacks_.Replace(buffer.data());
    if (answer == UNZIP32_REPLACE_YES) {
      return true;
    }
    keep_all_existing_ = answer == UNZIP32_REPLACE_NONE;
  }
  Say(2, "  skipping: " + shown + "  (file exists)\n");
  return false;
}

bool Run::WithData(const Entry& entry, const std::string& shown, const Consumer& consume) {
  std::string password = entry.encrypted ? remembered_password_ : std::string();
  int asks = 0;
  for (;;) {
    if (entry.encrypted && password.empty()) {
      if (asks == kMaxPasswordAsks || !AskPassword(entry.name, asks > 0, password)) {
        Fail(UNZIP32_BAD_PASSWORD, shown,
             asks == kMaxPasswordAsks ? "wrong password" : "no password");
        return false;
      }
      ++asks;
    }
    const Encoding encoding = EncodingOf(entry.encrypted, entry.method);
    ZipFile file(zip_fopen_index_encrypted(archive_.get(), entry.index,
                                           encoding == Encoding::kDecoded ? 0 : ZIP_FL_COMPRESSED,
                                           entry.encrypted ? password.c_str() : nullptr));
    if (!file) {
      const int code = zip_error_code_zip(zip_get_error(archive_.get()));
      zip_error_clear(archive_.get());
      if (entry.encrypted && (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)) {
        password.clear();
        continue;
      }
      Fail(UNZIP32_BAD_ARCHIVE, shown, ZipErrorText(code));
      return false;
    }
    EntryStream stream(std::move(file), encoding, {entry.size, entry.compressed_size, entry.crc},
                       workspace_);
    const DataOutcome outcome = consume(stream);
    // A wrong password passes the check byte of traditional encryption once in 256 tries,
    // and then only the CRC tells; so a CRC error asks again while asks are left.
    if (outcome.result == DataResult::kCorrupt && entry.encrypted &&
        outcome.zip_error == ZIP_ER_CRC && asks < kMaxPasswordAsks) {
      password.clear();
      continue;
    }
    if (outcome.result == DataResult::kCorrupt) {
      Fail(UNZIP32_BAD_ARCHIVE, shown, ZipErrorText(outcome.zip_error));
    }
    if (outcome.result != DataResult::kOk) {
      return false;
    }
    if (entry.encrypted) {
      remembered_password_ = password;
    }
    return true;
  }
}

bool Run::AskPassword(const std::string& name, bool again, std::string& password) {
  if (callbacks_.Password == nullptr) {
    return false;
  }
  std::array<char, kPasswordBufferSize + 1> buffer{};
  const int32_t answer =
      callbacks_.Password(buffer.data(), kPasswordBufferSize,
                          again ? "Password incorrect, enter it again: " : "Enter password: ",
                          caller_text::FromUtf8(name).c_str());
  // The password goes to libzip as the caller typed it, since archivers store no code page
  // for it.
  password.assign(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
  Wipe(buffer.data(), buffer.size());
  if (answer != 0) {
    password.clear();
  }
  return !password.empty();
}

void Run::Say(int level, const std::string& text) {
  if (command_.MessageLevel >= level) {
    Output(caller_text::FromUtf8(text));
  }
}

bool Run::Output(std::string_view text) {
  while (!text.empty() && !aborted_ && callbacks_.Print != nullptr) {
    // A copy ends every chunk with a NUL, since callers may read up to the first one.
    const std::string chunk(text.substr(0, kMaxPrintChunk));
    text.remove_prefix(chunk.size());
    aborted_ = callbacks_.Print(chunk.c_str(), static_cast<uint32_t>(chunk.size())) != 0;
  }
  return !aborted_;
}

void Run::Note(int32_t code) {
  if (Severity(code) > Severity(result_)) {
    result_ = code;
  }
}

void Run::Fail(int32_t code, const std::string& name, const std::string& reason) {
  Note(code);
  Say(1,
      std::string(code == UNZIP32_WARNING ? "warning: " : "error: ") + name + ": " + reason + "\n");
}

std::string Run::Details(const Entry& entry) const {
  if (command_.Verbose == 0) {
    return {};
  }
  return "  (" + std::to_string(entry.size) + " bytes, " + MethodName(entry.method) + ", " +
         std::to_string(SavedPercent(entry.size, entry.compressed_size)) + "% saved)";
}

void Run::FillTotals() {
  callbacks_.TotalCompressedSize = Clamp32(total_compressed_);
  callbacks_.TotalSize = Clamp32(total_size_);
  callbacks_.CompressionPercent = SavedPercent(total_size_, total_compressed_);
  callbacks_.EntryCount = selected_;
  callbacks_.CommentLength = comment_length_;
}

}  // namespace kalo::unzip32
