// Where an install folder keeps the updater's own files.
#pragma once

#include <string>

#include "platform/paths.h"

namespace cImpLicencas {

// The install folder's hidden sub-folder, where the run's own files live. Other files
// kept there must have names without a dot: every set-aside copy's name has one.
inline std::string HiddenFolderOf(const std::string& install_folder) {
  return kalo::platform::PathInFolder(install_folder, ".kalo_upd");
}

}  // namespace cImpLicencas
