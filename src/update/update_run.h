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
#include "update/run_observer.h"

namespace cImpLicencas {

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
