#include "update/run_journal.h"

#include <algorithm>
#include <set>

#include "archive/zip_compact.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "support/waits.h"

namespace cImpLicencas {
namespace {

constexpr const char* kCornerName = ".kalo_upd";
// Neither name has a dot, and every file name a run sets aside has one, so they
// never meet a set-aside copy.
constexpr const char* kLockName = "lock";
constexpr const char* kRecordName = "record";

// Runs one step of a recovery, which goes on whatever a single step meets.
template <typename Step>
void Attempt(Step step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

RunJournal::RunJournal(kalo::platform::FileSystem& fs, const std::string& install_folder)
    : fs_(fs),
      install_folder_(install_folder),
      corner_(kalo::platform::PathInFolder(install_folder, kCornerName)),
      record_path_(kalo::platform::PathInFolder(corner_, kRecordName)) {}

bool RunJournal::Lock(kalo::platform::Ui& ui, const kalo::platform::Clock& clock,
                      std::chrono::seconds patience) {
  if (fs_.KindOf(corner_) != kalo::platform::EntryKind::kFolder) {
    fs_.CreateFolder(corner_);
  }
  const std::string lock_path = kalo::platform::PathInFolder(corner_, kLockName);
  for (auto waited = std::chrono::seconds(0);; ++waited) {
    if (auto lock = kalo::platform::FileLock::TryLock(lock_path)) {
      lock_.emplace(std::move(*lock));
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

void RunJournal::WriteRecord() {
  std::string text;
  for (const std::string& name : noted_) {
    text += name + "\n";
  }
  fs_.WriteFileAtomically(record_path_, std::as_bytes(std::span(text)),
                          kalo::platform::FilePermissions::kData);
  record_written_ = true;
}

void RunJournal::BeforeWriting() {
  if (!record_written_) {
    WriteRecord();
  }
}

void RunJournal::SetAside(const std::string& name) {
  if (std::ranges::find(noted_, name) == noted_.end()) {
    noted_.push_back(name);
    WriteRecord();
  }
  fs_.RenameFile(kalo::platform::PathInFolder(install_folder_, name), AsidePath(name));
}

void RunJournal::PutBack(const std::string& name) {
  fs_.RenameFile(AsidePath(name), kalo::platform::PathInFolder(install_folder_, name));
}

void RunJournal::Discard(const std::string& name) {
  fs_.RemoveFile(AsidePath(name));
}

std::vector<std::string> RunJournal::NamesToRecover() const {
  std::set<std::string> names(noted_.begin(), noted_.end());
  Attempt([&] {
    const std::string record = fs_.ReadFile(record_path_);
    for (std::size_t start = 0, end = 0; start < record.size(); start = end + 1) {
      end = std::min(record.find('\n', start), record.size());
      if (end > start) {
        names.insert(record.substr(start, end - start));
      }
    }
  });
  // A copy the record lost (it is written before every move, but a disk may fail)
  // is still found by looking.
  Attempt([&] {
    for (const std::string& name : fs_.ListFolder(corner_)) {
      if (name != kLockName && name != kRecordName &&
          !kalo::platform::IsAtomicFileTemporary(name)) {
        names.insert(name);
      }
    }
  });
  return {names.begin(), names.end()};
}

void RunJournal::Recover() noexcept {
  // Without a record no run was interrupted while it changed the folder, and the
  // folder of thousands of files need not be looked through.
  bool interrupted = record_written_;
  Attempt([&] { interrupted = interrupted || fs_.KindOf(record_path_).has_value(); });
  if (!interrupted) {
    return;
  }
  for (const std::string& name : NamesToRecover()) {
    Attempt([&] {
      if (!fs_.KindOf(AsidePath(name))) {
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
    Attempt([&] {
      for (const std::string& name : fs_.ListFolder(folder)) {
        if (kalo::platform::IsAtomicFileTemporary(name) ||
            cImpZipDeclares::IsUnpackTemporary(name)) {
          Attempt([&] { fs_.RemoveFile(kalo::platform::PathInFolder(folder, name)); });
        }
      }
    });
  }
  Attempt([&] {
    if (fs_.KindOf(record_path_)) {
      fs_.RemoveFile(record_path_);
    }
    record_written_ = false;
  });
  noted_.clear();
}

}  // namespace cImpLicencas
