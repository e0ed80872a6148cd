#include "archive/archive_libraries.h"

#include "platform/install_folder.h"

namespace cImpZipDeclares {

const kalo::platform::SharedLibrary& ArchiveLibraries::Load(
    std::optional<kalo::platform::SharedLibrary>& slot, const std::string& file_name) {
  if (!slot) {
    slot.emplace(kalo::platform::PathInFolder(folder_, file_name));
  }
  return *slot;
}

}  // namespace cImpZipDeclares
