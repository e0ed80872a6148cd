#include "update/freshness.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/paths.h"
#include "support/files.h"
#include "support/text.h"
#include "support/timestamps.h"
#include "support/waits.h"
#include "update/protocol.h"

namespace cImpLicencas {

bool IsEntryCurrent(const kalo::platform::FileSystem& fs, const std::string& folder,
                    const std::string& file_name, const std::string& size_text,
                    const std::string& stamp_text) {
  return !EntryMismatch(fs, folder, file_name, size_text, stamp_text);
}

std::optional<std::string> EntryMismatch(const kalo::platform::FileSystem& fs,
                                         const std::string& folder, const std::string& file_name,
                                         const std::string& size_text,
                                         const std::string& stamp_text) {
  return MismatchText(CompareEntry(fs, folder, file_name, size_text, stamp_text));
}

EntryComparison CompareEntry(const kalo::platform::FileSystem& fs, const std::string& folder,
                             const std::string& file_name, const std::string& size_text,
                             const std::string& stamp_text) {
  const std::string path = kalo::platform::PathInFolder(folder, file_name);
  if (!cUpdate::FileExists(fs, path)) {
    return {
        EntryComparison::By::kPresence, {}, IsExecutableName(file_name) ? stamp_text : size_text};
  }
  if (IsExecutableName(file_name)) {
    return {EntryComparison::By::kVersion, cUpdate::FileVersionStamp(path, kStampPattern),
            stamp_text};
  }
  return {EntryComparison::By::kLength, std::to_string(fs.FileLength(path)), size_text};
}

std::optional<std::string> MismatchText(const EntryComparison& comparison) {
  if (comparison.Matches()) {
    return std::nullopt;
  }
  const std::string& found = comparison.found;
  const std::string& listed = comparison.listed;
  switch (comparison.by) {
    case EntryComparison::By::kPresence:
      break;
    case EntryComparison::By::kVersion:
      return (found.empty() ? std::string("o programa não tem versão")
                            : "o programa é da versão " + found) +
             "; a lista pede " + (listed.empty() ? "um sem versão" : listed);
    case EntryComparison::By::kLength:
      return "o arquivo tem " + found + " bytes; a lista pede " + listed;
  }
  return "o arquivo não está na pasta";
}

bool EnsureArchiveLibrary(const ProvisioningServices& services, const std::string& folder,
                          const std::string& base_name, const std::string& extension) {
  const std::string library = kalo::platform::PathInFolder(folder, base_name + "." + extension);
  if (cUpdate::FileExists(services.fs, library)) {
    return true;
  }
  const std::string extractor = kalo::platform::PathInFolder(folder, base_name + ".exe");
  const auto extract_and_start = [&] {
    cUpdate::ExtractResource(services.fs, services.resources, services.ui,
                             cUpdate::UpperCase(base_name + "." + extension), extractor);
    services.processes.Start(extractor, kalo::platform::WindowStyle::kHidden);
  };
  try {
    extract_and_start();
  } catch (const kalo::Error&) {
    // An extractor left in the folder may be damaged or not executable; the carried
    // one replaces it, once.
    if (!cUpdate::DeleteLocalFile(services.fs, extractor)) {
      throw;
    }
    extract_and_start();
  }
  cUpdate::WaitSeconds(services.ui, services.clock, 3);
  return cUpdate::FileExists(services.fs, library);
}

bool ReprovisionArchiveLibrary(const ProvisioningServices& services, const std::string& folder,
                               const std::string& base_name, const std::string& extension) {
  for (const std::string& name : {base_name + "." + extension, base_name + ".exe"}) {
    if (!cUpdate::DeleteLocalFile(services.fs, kalo::platform::PathInFolder(folder, name))) {
      return false;
    }
  }
  return EnsureArchiveLibrary(services, folder, base_name, extension);
}

cImpZipDeclares::ArchiveLibraries::Repair RepairFromCarriedExtractors(
    const ProvisioningServices& services, const std::string& folder) {
  return [services, folder](const std::string& base_name) {
    ReprovisionArchiveLibrary(services, folder, base_name, "dll");
  };
}

}  // namespace cImpLicencas
