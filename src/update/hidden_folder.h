// Where an install folder keeps the updater's own files.
#pragma once

#include <string>
#include <string_view>

#include "platform/ascii.h"
#include "platform/paths.h"

namespace cImpLicencas {

// The install folder's hidden sub-folder, where the run's own files live. Other files
// kept there must have names without a dot, as every set-aside copy's name has one; the
// run log's two files are the exception, and the journal knows them.
inline std::string HiddenFolderOf(const std::string& install_folder) {
  return kalo::platform::PathInFolder(install_folder, ".kalo_upd");
}

// The run log in the hidden folder, and its older part.
inline constexpr std::string_view kRunLogName = "kalo_upd.log";
inline constexpr std::string_view kOlderRunLogName = "kalo_upd.log.1";

// True when `name` is one of the run log's files, in any case, as Windows takes names.
inline bool IsRunLogName(std::string_view name) {
  return kalo::platform::EqualIgnoringAsciiCase(name, kRunLogName) ||
         kalo::platform::EqualIgnoringAsciiCase(name, kOlderRunLogName);
}

}  // namespace cImpLicencas
