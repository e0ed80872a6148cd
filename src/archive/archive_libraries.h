// The two archive libraries, loaded from the install folder at their first use and
// kept loaded for the rest of the process.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/shared_library.h"

namespace cImpZipDeclares {

class ArchiveLibraries {
 public:
  // Provides the library of the given base name ("unzip32", "zip32") afresh in the
  // install folder, when the one there cannot be loaded.
  using Repair = std::function<void(const std::string& base_name)>;

  explicit ArchiveLibraries(std::string install_folder, Repair repair = {})
      : folder_(std::move(install_folder)), repair_(std::move(repair)) {}

  // "unzip32.dll" and "zip32.dll" of the install folder, with every function the
  // bindings call. A library that is missing, is no library or lacks a function is
  // repaired once and loaded again; one that still fails throws, each time it is asked
  // for, so that one provided later is still found.
  const kalo::platform::SharedLibrary& Unzip();
  const kalo::platform::SharedLibrary& Zip();

 private:
  const kalo::platform::SharedLibrary& Load(std::optional<kalo::platform::SharedLibrary>& slot,
                                            const std::string& base_name,
                                            std::initializer_list<const char*> functions);

  std::string folder_;
  Repair repair_;
  std::optional<kalo::platform::SharedLibrary> unzip_;
  std::optional<kalo::platform::SharedLibrary> zip_;
};

}  // namespace cImpZipDeclares
