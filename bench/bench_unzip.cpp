// kalo_bench_unzip LIBRARY_FOLDER ARCHIVE DESTINATION: one extraction through the zip
// object and VBUnzip with the object's defaults (stored folders recreated, files
// replaced), the unzip library loaded from LIBRARY_FOLDER. Unlike UnzipToFolder it
// does not wait afterwards, so only the extraction is timed.
#include <iostream>

#include "archive/zip_compact.h"
#include "no_window.h"
#include "platform/error.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: kalo_bench_unzip LIBRARY_FOLDER ARCHIVE DESTINATION\n";
    return 2;
  }
  try {
    kalo::bench::NoWindow ui;
    cImpZipDeclares::ArchiveLibraries libraries(argv[1]);
    cImpZipCompact zip(libraries, ui);
    zip.SetMessageLevel(0);
    const std::int32_t result = zip.Unzip(argv[2], argv[3]);
    if (result != 0) {
      std::cerr << "unzip32 result " << result << ": " << zip.GetLastMessage() << '\n';
    }
    return result == 0 ? 0 : 1;
  } catch (const kalo::Error& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
}
