// The release the end-to-end tests serve to the client "acme": the product acme.exe
// in an archive, and a data file.
#pragma once

#include <string>

#include "helpers/archive_builder.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"

namespace kalo::test {

// Serves the release with `product` (a program's bytes) as acme.exe; the archive is
// written in `work` first.
inline void ServeAcmeRelease(TestServer& server, const TempFolder& work,
                             const std::string& product) {
  ArchiveBuilder()
      .AddFile("acme.exe", product, EntryOptions().Mode(0755))
      .Write(work / "archive.zip");
  const std::string archive = ReadWholeFile(work / "archive.zip");
  server.SetFile("acme-exe-201811211540.zip", archive);
  server.SetFile("logo-jpg-201811211540.jpg", "jpeg");
  server.SetManifest("acme", "licenca_\r\nacme-exe-201811211540.zip|" +
                                 std::to_string(archive.size()) +
                                 "\r\nlogo-jpg-201811211540.jpg|4\r\n_licenca");
}

}  // namespace kalo::test
