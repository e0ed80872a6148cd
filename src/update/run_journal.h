// What keeps an update run safe from interruptions: the install folder's lock, the
// record of the files set aside, and the recovery that follows a run that ended
// before it could put them back (killed, closed, power cut).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/ui.h"
#include "support/transfers.h"
#include "update/kept_download.h"

namespace cImpLicencas {

class RunObserver;

// Everything lives in the install folder's hidden sub-folder ".kalo_upd": the lock,
// the record and the set-aside copies. The unpack writes straight into the install
// folder and never below it, and manifest names hold no folders, so nothing a server
// sends can overwrite a saved copy.
class RunJournal {
 public:
  // `fs` and `observer` are borrowed and must outlive the journal; the observer hears
  // of a record the journal would not follow.
  RunJournal(kalo::platform::FileSystem& fs, RunObserver& observer,
             const std::string& install_folder);

  // Takes the install folder's lock, trying again for `patience` while another run
  // holds it; false when it never came free. Makes the hidden sub-folder when missing
  // (one that another run made at the same moment serves as well) and throws when that
  // fails. Throws, following none of them, when the sub-folder, the lock or the record
  // is a link or not the kind of entry it must be.
  bool Lock(kalo::platform::Ui& ui, const kalo::platform::Clock& clock,
            std::chrono::seconds patience);

  // Writes the record, if this run has not yet, before the first file is written: a
  // run cut off while writing leaves it behind, which tells the next run to look for
  // what is half done. Throws when it cannot be written.
  void BeforeWriting();

  // Notes `name` in the record, then moves the file of that name out of the way.
  // Throws when either fails, and for the names of the run log, whose place the copy
  // would take; nothing is moved then. The observer hears of each move.
  void SetAside(const std::string& name);
  // Puts the set-aside copy of `name` back, in place of whatever is there now.
  void PutBack(const std::string& name);
  // Removes the set-aside copy of `name`: its replacement is in place.
  void Discard(const std::string& name);

  // The kept download of the server file `name`, whose manifest entry has the length
  // and digest fields `size` and `sha256`: it continues what an earlier run left of the
  // same entry, and records in the hidden folder what its file holds.
  cUpdate::KeptDownload KeptDownloadOf(const std::string& name, const std::string& size,
                                       const std::string& sha256);
  // Removes every kept download that cannot be continued (no record, an odd record, a
  // body shorter than its record says or not an ordinary file) or that `wanted` turns
  // down, and anything else in the hidden folder with the name of one. Does what it can
  // and never throws: the observer hears of what it could not remove.
  void PruneKeptDownloads(const std::function<bool(const KeptDownloadRecord&)>& wanted) noexcept;

  // Puts back every set-aside file whose name is missing from the install folder,
  // removes the copies whose file is there, removes the temporary files a download or
  // an unpack leaves when it is cut off, and clears the record when all of that
  // succeeded (else the record stays, so that the next run tries again); nothing to do
  // when no record is there. A record with a line that names no set-aside copy is
  // discarded whole, never followed, and the observer warned. Kept downloads that can
  // be continued stay, and the rest go. Does what it can and never throws, as it also
  // runs on the way out of a program that is ending.
  void Recover() noexcept;

 private:
  std::string AsidePath(const std::string& name) const;
  void MakeCorner();
  void WriteRecord(const std::vector<std::string>& names);
  void ReadRecord(std::set<std::string>& names) const;
  void ListCopies(std::set<std::string>& names) const;
  std::optional<KeptDownloadRecord> ReadKeptRecord(const std::string& record_name) const;
  template <typename Step>
  bool Attempt(Step step) noexcept;

  kalo::platform::FileSystem& fs_;
  RunObserver& observer_;
  std::string install_folder_;
  std::string corner_;
  std::string record_path_;
  std::vector<std::string> noted_;
  bool record_written_ = false;
  bool recovering_ = false;  // the observer hears that puts back and discards recover
  std::optional<kalo::platform::FileLock> lock_;
};

}  // namespace cImpLicencas
