#include "update/freshness.h"

#include <algorithm>

#include "platform/install_folder.h"
#include "support/files.h"
#include "support/text.h"
#include "support/timestamps.h"
#include "support/waits.h"

namespace cImpLicencas {
namespace {

bool IsExecutableName(const std::string& file_name) {
  return file_name.ends_with("exe");
}

}  // namespace

bool IsEntryCurrent(const kalo::platform::FileSystem& fs, const std::string& folder,
                    const std::string& file_name, const std::string& size_text,
                    const std::string& stamp_text) {
  const std::string path = kalo::platform::PathInFolder(folder, file_name);
  if (!cUpdate::FileExists(fs, path)) {
    return false;
  }
  if (IsExecutableName(file_name)) {
    return cUpdate::FileVersionStamp(path, "yyyymmddhhnn") == stamp_text;
  }
  return std::to_string(fs.FileLength(path)) == size_text;
}

bool EnsureArchiveLibrary(const ProvisioningServices& services, const std::string& folder,
                          const std::string& base_name, const std::string& extension) {
  const std::string library = kalo::platform::PathInFolder(folder, base_name + "." + extension);
  if (cUpdate::FileExists(services.fs, library)) {
    return true;
  }
  const std::string extractor = kalo::platform::PathInFolder(folder, base_name + ".exe");
  cUpdate::ExtractResource(services.fs, services.resources, services.ui,
                           cUpdate::UpperCase(base_name + "." + extension), extractor);
  services.processes.Start(extractor, kalo::platform::WindowStyle::kHidden);
  cUpdate::WaitSeconds(services.ui, services.clock, 3);
  return cUpdate::FileExists(services.fs, library);
}

}  // namespace cImpLicencas
