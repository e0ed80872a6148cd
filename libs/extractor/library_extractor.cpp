// An extractor program: it carries one archive library and, when started, writes it
// into its own folder under the library's file name, then ends. The updater carries
// the two extractors and runs them to provide a missing library.
#include <iostream>
#include <span>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/own_program.h"
#include "platform/paths.h"
#include "platform/resources.h"

namespace kalo::extractor {
std::span<const platform::CarriedResource> CarriedLibrary();
}

int main() {
  try {
    const std::string own_path = kalo::platform::OwnFilePath();
    const std::string folder = kalo::platform::FolderOf(own_path);
    const kalo::platform::CarriedResources resources(kalo::extractor::CarriedLibrary());
    kalo::platform::FileSystem fs;
    fs.WriteFileAtomically(kalo::platform::PathInFolder(folder, KALO_LIBRARY_FILE),
                           resources.Load(KALO_LIBRARY_RESOURCE, "CUSTOM"),
                           kalo::platform::FilePermissions::kData);
    return 0;
  } catch (const kalo::Error& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
}
