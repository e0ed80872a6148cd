// One whole update run for one client: the manifest, the archive libraries, the two
// passes that bring the install folder up to date, and the hand-over.
#pragma once

#include <optional>
#include <string>

#include "archive/archive_libraries.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "support/failure.h"
#include "support/transfers.h"
#include "update/manifest.h"

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

// How a run that returned ended. Only kCompleted is a success.
enum class RunEnd {
  kCompleted,            // the manifest came and the folder is up to date (or the user declined)
  kManifestNotReceived,  // the transfer failed or the server refused
  kManifestNotFramed,    // the answer was no manifest
  kManifestRefused,      // the manifest's signature did not hold
  kFolderBusy,           // another run kept the install folder's lock
};

struct RunOutcome {
  RunEnd end = RunEnd::kCompleted;
  // Nothing for kCompleted; else what went wrong and where, and why when known.
  std::optional<kalo::Failure> failure;
};

// Everything a run works with; all borrowed, and living as long as the process.
struct UpdateServices {
  kalo::platform::FileSystem& fs;
  kalo::platform::ProcessTable& processes;
  const kalo::platform::CarriedResources& resources;
  kalo::platform::Ui& ui;
  const kalo::platform::Clock& clock;
  cUpdate::TransferControlOwner& transfer;
  cImpZipDeclares::ArchiveLibraries& libraries;
  ManifestState& manifest;
  ManifestTrust& trust;
  RunObserver& observer;
  std::string install_folder;
  std::string server_base;
  std::string own_exe_name;  // OwnExeName() of the running program
  // Where the product started at the hand-over writes: nowhere in the unattended
  // mode, so that whoever reads the updater's output is not kept waiting for it.
  kalo::platform::ProgramOutput product_output = kalo::platform::ProgramOutput::kShared;
};

// Updates the install folder for `client`, one run at a time per install folder;
// first it recovers what an interrupted run left. Returns when there was nothing to
// hand over to, the user declined, or the manifest did not come (the outcome says
// which). The run is the one place where a failed step becomes its message: " Erro: ",
// the step's text, and on a second line "Motivo: " and the reason; the program then
// ends, with every set-aside file back in place. Runtime errors (a missing library)
// pass.
RunOutcome RunUpdate(UpdateServices& services, const std::string& client);

// True when `client` (lower-cased and trimmed) can name the product: it becomes the
// program `<client>.exe` that the hand-over starts, so it must be a plain file name
// inside the install folder.
bool IsUsableClientName(const std::string& client);

// The running program's file name, without folder, ending in ".exe".
std::string OwnExeName(const std::string& own_file_path);

// Announces or asks, starts `program_name` (".exe" added unless it ends so) from the
// install folder and ends the updater. Returns only when the user declines.
void HandOver(UpdateServices& services, const std::string& program_name);

}  // namespace cImpLicencas
