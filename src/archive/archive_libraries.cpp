#include "archive/archive_libraries.h"

#include "platform/error.h"
#include "platform/paths.h"

namespace cImpZipDeclares {
namespace {

kalo::platform::SharedLibrary LoadWith(const std::string& path,
                                       std::initializer_list<const char*> functions) {
  kalo::platform::SharedLibrary library(path);
  for (const char* function : functions) {
    library.Function(function);
  }
  return library;
}

}  // namespace

const kalo::platform::SharedLibrary& ArchiveLibraries::Unzip() {
  return Load(unzip_, "unzip32", {"Wiz_SingleEntryUnzip"});
}

const kalo::platform::SharedLibrary& ArchiveLibraries::Zip() {
  return Load(zip_, "zip32", {"ZpInit", "ZpSetOptions", "ZpArchive"});
}

const kalo::platform::SharedLibrary& ArchiveLibraries::Load(
    std::optional<kalo::platform::SharedLibrary>& slot, const std::string& base_name,
    std::initializer_list<const char*> functions) {
  if (slot) {
    return *slot;
  }
  const std::string path = kalo::platform::PathInFolder(folder_, base_name + ".dll");
  try {
    slot.emplace(LoadWith(path, functions));
  } catch (const kalo::Error&) {
    if (!repair_) {
      throw;
    }
    repair_(base_name);
    slot.emplace(LoadWith(path, functions));
  }
  return *slot;
}

}  // namespace cImpZipDeclares
