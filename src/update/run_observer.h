// What an update run reports as it goes, for whoever listens: the unattended mode's
// log, the run log in the install folder, and the run journal's own reports.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/failure.h"

namespace kalo::platform {
struct TransferOutcome;
}

namespace cImpLicencas {

struct EntryComparison;
struct ManifestState;
enum class RunEnd;

// What the run journal did to a file of the install folder.
enum class JournalStep {
  kSetAside,         // moved into the hidden folder before its replacement
  kPutBack,          // the set-aside copy went back in place
  kDiscarded,        // the set-aside copy was removed: its replacement is in place
  kLeftoverRemoved,  // a half-written download or unpacked file was removed
};

// The one place a run reports what it decided and why: each entry's decision, the
// manifest's outcome, a failed step before the program ends, what it went past on
// purpose, the hand-over. The unattended mode prints some of it; the window shows none.
// No hook may throw: some are called on the way out of a program that is ending.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The run holds the install folder (no other run may start there now), for `client`
  // from the server at `server_base`.
  virtual void RunStarted(const std::string& /*server_base*/, const std::string& /*client*/) {}
  // The manifest came and was taken (nothing), or why not; `manifest` tells the rest.
  virtual void ManifestLoaded(const ManifestState& /*manifest*/,
                              const std::optional<kalo::Failure>& /*failure*/) {}
  // A call of the transfer component ended, well or not.
  virtual void TransferEnded(const kalo::platform::TransferOutcome& /*outcome*/) {}
  // The file was compared with its manifest entry; when it does not match, it is replaced
  // next.
  virtual void EntryDecided(const std::string& /*file_name*/,
                            const EntryComparison& /*comparison*/) {}
  virtual void FileReplaced(const std::string& /*file_name*/) {}
  virtual void FileUnpacked(const std::string& /*file_name*/) {}
  // The journal did `step` to the file `name` (for a leftover, its path); `recovery` when
  // it was putting right what an earlier run or this one left.
  virtual void Journaled(JournalStep /*step*/, const std::string& /*name*/, bool /*recovery*/) {}
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
  // The run is over: it returned `returned`, or (nothing) the program ends at once. The
  // exit status is the program's, or for a run that returned the unattended mode's; the
  // failure says why when the run knows it.
  virtual void RunEnded(std::optional<RunEnd> /*returned*/, int /*exit_status*/,
                        const std::optional<kalo::Failure>& /*failure*/) {}
};

// An observer that passes every report to each of `observers`, in order, so that a run
// still reports to one. They are borrowed and must outlive it.
std::unique_ptr<RunObserver> AllOf(std::vector<RunObserver*> observers);

}  // namespace cImpLicencas
