#include "update/run_journal.h"

#include <algorithm>

#include "archive/zip_compact.h"
#include "platform/atomic_file.h"
#include "platform/caught_error.h"
#include "platform/error.h"
#include "platform/link_refusal.h"
#include "platform/paths.h"
#include "support/waits.h"
#include "update/hidden_folder.h"
#include "update/manifest.h"
#include "update/run_observer.h"

namespace cImpLicencas {
namespace {

using kalo::platform::EntryKind;

constexpr const char* kSource = "cImpLicencas::RunJournal";
constexpr const char* kLockName = "lock";
constexpr const char* kRecordName = "record";
// A kept download's record is a few short lines; anything longer is no record of ours.
constexpr std::uint64_t kMaxKeptRecordBytes = 4096;

// Set-aside copies carry the names of manifest files, which are plain names with a dot
// (base.ext). The journal's own files in the hidden folder (the lock, the record, the
// signature times) have no dot and the run log's are known, so neither a record nor the
// folder's listing can have them taken for copies and moved into the install folder.
bool CouldBeSetAside(const std::string& name) {
  return IsPlainFileName(name) && name.find('.') != std::string::npos &&
         !kalo::platform::IsAtomicFileTemporary(name) && !IsRunLogName(name);
}

// What stands at `path`, which must be nothing or an `expected` entry of the journal's
// own; a link there is refused, never followed.
std::optional<EntryKind> OwnEntry(const kalo::platform::FileSystem& fs, const std::string& path,
                                  EntryKind expected) {
  const auto kind = fs.OwnKindOf(path);
  if (kind == EntryKind::kLink) {
    throw kalo::platform::LinkRefused(path, kSource);
  }
  if (kind && *kind != expected) {
    throw kalo::Error(
        kalo::error_number::kPathFileAccess,
        "Não foi possível usar " + path +
            (expected == EntryKind::kFolder ? ": não é uma pasta" : ": não é um arquivo"),
        kSource);
  }
  return kind;
}

}  // namespace

// Runs one step of a recovery, which goes on whatever a single step meets: the observer
// hears of a failure, which the next run's recovery tries again. False when it failed.
template <typename Step>
bool RunJournal::Attempt(Step step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    observer_.Overlooked(
        {"Recuperar: " + install_folder_,
         kalo::ErrorFromException(std::current_exception(), kSource).Description()});
    return false;
  }
}

RunJournal::RunJournal(kalo::platform::FileSystem& fs, RunObserver& observer,
                       const std::string& install_folder)
    : fs_(fs),
      observer_(observer),
      install_folder_(install_folder),
      corner_(HiddenFolderOf(install_folder)),
      record_path_(kalo::platform::PathInFolder(corner_, kRecordName)) {}

void RunJournal::MakeCorner() {
  if (OwnEntry(fs_, corner_, EntryKind::kFolder)) {
    return;
  }
  try {
    fs_.CreateFolder(corner_);
  } catch (const kalo::Error& error) {
    // Another run starting at the same moment made it first; it serves both.
    if (error.Number() != kalo::error_number::kFileAlreadyExists) {
      throw;
    }
    OwnEntry(fs_, corner_, EntryKind::kFolder);
  }
}

bool RunJournal::Lock(kalo::platform::Ui& ui, const kalo::platform::Clock& clock,
                      std::chrono::seconds patience) {
  MakeCorner();
  const std::string lock_path = kalo::platform::PathInFolder(corner_, kLockName);
  for (auto waited = std::chrono::seconds(0);; ++waited) {
    if (auto lock = kalo::platform::FileLock::TryLock(lock_path)) {
      lock_.emplace(std::move(*lock));
      // Only the holder of the lock may trust what it finds: checked now, the record
      // changes no more but by this run.
      OwnEntry(fs_, record_path_, EntryKind::kFile);
      return true;
    }
    if (waited >= patience) {
      return false;
    }
    cUpdate::WaitSeconds(ui, clock, 1);
  }
}

std::string RunJournal::AsidePath(const std::string& name) const {
  return kalo::platform::PathInFolder(corner_, name);
}

void RunJournal::WriteRecord(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += name + "\n";
  }
  fs_.WriteFileAtomically(record_path_, std::as_bytes(std::span(text)),
                          kalo::platform::FilePermissions::kData);
  record_written_ = true;
}

void RunJournal::BeforeWriting() {
  if (!record_written_) {
    WriteRecord(noted_);
  }
}

void RunJournal::SetAside(const std::string& name) {
  // Its copy would take the run log's place.
  if (IsRunLogName(name)) {
    throw kalo::Error(
        kalo::error_number::kPathFileAccess,
        "Não foi possível guardar " + name + ": o nome é o do registro de execução da atualização",
        kSource);
  }
  // Noted only once the record names it: a second attempt after a failed write must
  // not find it noted and move the file unrecorded.
  if (std::ranges::find(noted_, name) == noted_.end()) {
    std::vector<std::string> noted = noted_;
    noted.push_back(name);
    WriteRecord(noted);
    noted_ = std::move(noted);
  }
  fs_.RenameFile(kalo::platform::PathInFolder(install_folder_, name), AsidePath(name));
  observer_.Journaled(JournalStep::kSetAside, name, false);
}

void RunJournal::PutBack(const std::string& name) {
  fs_.RenameFile(AsidePath(name), kalo::platform::PathInFolder(install_folder_, name));
  observer_.Journaled(JournalStep::kPutBack, name, recovering_);
}

void RunJournal::Discard(const std::string& name) {
  fs_.RemoveFile(AsidePath(name));
  observer_.Journaled(JournalStep::kDiscarded, name, recovering_);
}

void RunJournal::ReadRecord(std::set<std::string>& names) const {
  const std::string record = fs_.ReadFileNoFollow(record_path_);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < record.size(); start = end + 1) {
    end = std::min(record.find('\n', start), record.size());
    if (end > start) {
      lines.push_back(record.substr(start, end - start));
    }
  }
  // Anyone who can write the hidden folder can write the record, and its names are
  // joined to paths that are moved and removed: one odd line and none is followed.
  if (!std::ranges::all_of(lines, CouldBeSetAside)) {
    observer_.Warned("O registro " + record_path_ +
                     " foi descartado sem ser seguido: tem linhas que não são nomes de "
                     "arquivos guardados pela atualização");
    return;
  }
  names.insert(lines.begin(), lines.end());
}

// A copy the record lost (it is written before every move, but a disk may fail) is
// still found by looking.
void RunJournal::ListCopies(std::set<std::string>& names) const {
  for (const std::string& name : fs_.ListFolder(corner_)) {
    if (CouldBeSetAside(name)) {
      names.insert(name);
    }
  }
}

std::optional<KeptDownloadRecord> RunJournal::ReadKeptRecord(const std::string& record_name) const {
  const std::string path = kalo::platform::PathInFolder(corner_, record_name);
  if (fs_.OwnKindOf(path) != EntryKind::kFile || fs_.FileLength(path) > kMaxKeptRecordBytes) {
    return std::nullopt;
  }
  return ParseKeptRecord(fs_.ReadFileNoFollow(path));
}

cUpdate::KeptDownload RunJournal::KeptDownloadOf(const std::string& name, const std::string& size,
                                                 const std::string& sha256) {
  KeptDownloadRecord kept_record{name, size, sha256, {}};
  cUpdate::KeptDownload kept;
  kept.path = kalo::platform::PathInFolder(corner_, KeptBodyName(name));
  const std::string record_name = KeptRecordName(name);
  if (const auto record = ReadKeptRecord(record_name);
      record && record->Resumable() && record->IsFor(name, size, sha256)) {
    kept.held = record->held;
  }
  kept.note = [this, kept_record, record_name](const kalo::platform::ResumePoint& held) mutable {
    kept_record.held = held;
    const std::string text = KeptRecordText(kept_record);
    fs_.WriteFileAtomically(kalo::platform::PathInFolder(corner_, record_name),
                            std::as_bytes(std::span(text)), kalo::platform::FilePermissions::kData);
  };
  return kept;
}

void RunJournal::PruneKeptDownloads(
    const std::function<bool(const KeptDownloadRecord&)>& wanted) noexcept {
  Attempt([&] {
    const std::vector<std::string> names = fs_.ListFolder(corner_);
    std::set<std::string> keep;
    for (const std::string& name : names) {
      const auto body = KeptBodyOfRecord(name);
      if (!body) {
        continue;
      }
      const std::string body_path = kalo::platform::PathInFolder(corner_, *body);
      Attempt([&] {
        const auto record = ReadKeptRecord(name);
        if (record && record->Resumable() && KeptBodyName(record->name) == *body &&
            fs_.OwnKindOf(body_path) == EntryKind::kFile &&
            fs_.FileLength(body_path) >= record->held.offset && wanted(*record)) {
          keep.insert({name, *body});
        }
      });
    }
    // Records first: a body without its record is never continued.
    for (const bool records : {true, false}) {
      for (const std::string& name : names) {
        if (IsKeptDownloadName(name) && KeptBodyOfRecord(name).has_value() == records &&
            !keep.contains(name)) {
          Attempt([&] {
            const std::string path = kalo::platform::PathInFolder(corner_, name);
            fs_.RemoveFile(path);
            if (!records) {
              observer_.Journaled(JournalStep::kLeftoverRemoved, path, true);
            }
          });
        }
      }
    }
  });
}

void RunJournal::Recover() noexcept {
  PruneKeptDownloads([](const KeptDownloadRecord&) { return true; });
  // Without a record no run was interrupted while it changed the folder, and the
  // folder of thousands of files need not be looked through.
  bool interrupted = record_written_;
  Attempt([&] { interrupted = interrupted || fs_.OwnKindOf(record_path_).has_value(); });
  if (!interrupted) {
    return;
  }
  recovering_ = true;
  bool complete = true;
  const auto attempt = [this, &complete](auto step) { complete = Attempt(step) && complete; };
  std::set<std::string> names(noted_.begin(), noted_.end());
  attempt([&] { ReadRecord(names); });
  attempt([&] { ListCopies(names); });
  for (const std::string& name : names) {
    attempt([&] {
      // Only a file is a copy; a link there is never followed.
      if (fs_.OwnKindOf(AsidePath(name)) != EntryKind::kFile) {
        return;
      }
      if (fs_.KindOf(kalo::platform::PathInFolder(install_folder_, name))) {
        Discard(name);
      } else {
        PutBack(name);
      }
    });
  }
  for (const std::string& folder : {install_folder_, corner_}) {
    attempt([&] {
      for (const std::string& name : fs_.ListFolder(folder)) {
        if (kalo::platform::IsAtomicFileTemporary(name) ||
            cImpZipDeclares::IsUnpackTemporary(name)) {
          attempt([&] {
            const std::string path = kalo::platform::PathInFolder(folder, name);
            fs_.RemoveFile(path);
            observer_.Journaled(JournalStep::kLeftoverRemoved, path, true);
          });
        }
      }
    });
  }
  if (complete) {
    attempt([&] {
      if (fs_.OwnKindOf(record_path_)) {
        fs_.RemoveFile(record_path_);
      }
    });
  }
  if (complete) {
    record_written_ = false;
    noted_.clear();
  } else {
    // The record stays for the next run and names everything still to look at; written
    // again, it also replaces one that was discarded.
    noted_.assign(names.begin(), names.end());
    Attempt([&] { WriteRecord(noted_); });
  }
  recovering_ = false;
}

}  // namespace cImpLicencas
