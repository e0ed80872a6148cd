// Whether a file of the install folder matches its manifest entry, and the
// provisioning of the archive libraries before the first unpack.
#pragma once

#include <optional>
#include <string>

#include "archive/archive_libraries.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/resources.h"
#include "platform/ui.h"

namespace cImpLicencas {

// What a file of the install folder was judged by against its manifest entry.
struct EntryComparison {
  enum class By { kPresence, kVersion, kLength };
  By by = By::kPresence;  // kPresence: the file is not there
  std::string found;      // the file's version stamp (empty: it has none) or length
  std::string listed;     // the entry's stamp or size
  bool Matches() const { return by != By::kPresence && found == listed; }
};

// The file's stamp (an executable, a name ending in "exe") or length (any other file)
// beside the entry's. Errors of the file system pass to the caller.
EntryComparison CompareEntry(const kalo::platform::FileSystem& fs, const std::string& folder,
                             const std::string& file_name, const std::string& size_text,
                             const std::string& stamp_text);

// Why the compared file does not match, for a failure text ("o arquivo tem 12 bytes; a lista
// pede 20"); nothing when it matches.
std::optional<std::string> MismatchText(const EntryComparison& comparison);

// True when `file_name` exists in `folder` and matches the entry: an executable
// (a name ending in "exe") by the stamp of its version, any other file by its
// length written in decimal. Errors of the file system pass to the caller.
bool IsEntryCurrent(const kalo::platform::FileSystem& fs, const std::string& folder,
                    const std::string& file_name, const std::string& size_text,
                    const std::string& stamp_text);

// Why the file does not match its entry, for a failure text ("tem 12 bytes; a lista
// pede 20"); nothing when it matches. The same test as IsEntryCurrent.
std::optional<std::string> EntryMismatch(const kalo::platform::FileSystem& fs,
                                         const std::string& folder, const std::string& file_name,
                                         const std::string& size_text,
                                         const std::string& stamp_text);

// What provisioning needs from the rest of the system.
struct ProvisioningServices {
  kalo::platform::FileSystem& fs;
  const kalo::platform::CarriedResources& resources;
  kalo::platform::ProcessTable& processes;
  kalo::platform::Ui& ui;
  const kalo::platform::Clock& clock;
};

// Makes sure that base_name.extension lies in `folder`: when it is missing, writes
// the carried extractor (resource "BASE_NAME.EXTENSION") as base_name.exe, starts it
// without a window and looks again after three seconds. True when the library is
// there at the end.
bool EnsureArchiveLibrary(const ProvisioningServices& services, const std::string& folder,
                          const std::string& base_name, const std::string& extension);

// Provides base_name.extension afresh from the carried extractor, when the one in
// `folder` cannot be loaded: the library and its extractor there are removed first,
// as either may be what is broken. True when the library is there at the end.
bool ReprovisionArchiveLibrary(const ProvisioningServices& services, const std::string& folder,
                               const std::string& base_name, const std::string& extension);

// How the archive libraries of `folder` are repaired: afresh from the carried
// extractors. The services must outlive the libraries.
cImpZipDeclares::ArchiveLibraries::Repair RepairFromCarriedExtractors(
    const ProvisioningServices& services, const std::string& folder);

}  // namespace cImpLicencas
