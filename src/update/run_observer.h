// What an update run reports as it goes, for whoever listens: the unattended mode's
// log, and the run journal's own reports.
#pragma once

#include <optional>
#include <string>

#include "support/failure.h"

namespace cImpLicencas {

// The one place a run reports what it decided and why: each entry's decision, the
// manifest's outcome, a failed step before the program ends, what it went past on
// purpose, the hand-over. The unattended mode prints some of it; the window shows none.
// No hook may throw: some are called on the way out of a program that is ending.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The manifest at `address` came and was taken (nothing), or why not.
  virtual void ManifestLoaded(const std::string& /*address*/,
                              const std::optional<kalo::Failure>& /*failure*/) {}
  // The file matches its manifest entry: nothing to do.
  virtual void EntryCurrent(const std::string& /*file_name*/) {}
  // The file does not match its entry, for the reason given; it is replaced next.
  virtual void EntryStale(const std::string& /*file_name*/, const std::string& /*why*/) {}
  virtual void FileReplaced(const std::string& /*file_name*/) {}
  virtual void FileUnpacked(const std::string& /*file_name*/) {}
  // A manifest line whose file names would leave the install folder.
  virtual void EntrySkipped(const std::string& /*line*/) {}
  // The manifest at `address` came but names no file the run could check.
  virtual void NothingListed(const std::string& /*address*/) {}
  // Something the run met and went on past on purpose, which the user should still
  // hear of (a record it would not follow, a store it could not write).
  virtual void Warned(const std::string& /*text*/) {}
  // A failure the run let pass on purpose because the next run's recovery makes it good
  // (a set-aside copy that could not be put back or removed).
  virtual void Overlooked(const kalo::Failure& /*failure*/) {}
  // A step failed; its message follows, then the program ends.
  virtual void StepFailed(const kalo::Failure& /*failure*/) {}
  // The run hands over to the program at `path`.
  virtual void HandingOver(const std::string& /*path*/) {}
};

}  // namespace cImpLicencas
