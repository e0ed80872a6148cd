// The two archive libraries, loaded from the install folder at their first use and
// kept loaded for the rest of the process.
#pragma once

#include <optional>
#include <string>

#include "platform/shared_library.h"

namespace cImpZipDeclares {

class ArchiveLibraries {
 public:
  explicit ArchiveLibraries(std::string install_folder) : folder_(std::move(install_folder)) {}

  // "unzip32.dll" and "zip32.dll" of the install folder. A library that is missing
  // throws each time it is asked for, so one provided later is still found.
  const kalo::platform::SharedLibrary& Unzip() { return Load(unzip_, "unzip32.dll"); }
  const kalo::platform::SharedLibrary& Zip() { return Load(zip_, "zip32.dll"); }

 private:
  const kalo::platform::SharedLibrary& Load(std::optional<kalo::platform::SharedLibrary>& slot,
                                            const std::string& file_name);

  std::string folder_;
  std::optional<kalo::platform::SharedLibrary> unzip_;
  std::optional<kalo::platform::SharedLibrary> zip_;
};

}  // namespace cImpZipDeclares
