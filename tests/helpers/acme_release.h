// The release the end-to-end tests serve to the client "acme": the product acme.exe
// in an archive, and a data file.
#pragma once

#include <string>

#include "helpers/archive_builder.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "platform/cryptography.h"
#include "support/text.h"

namespace kalo::test {

// A manifest's digest field for `content`.
inline std::string Sha256Text(const std::string& content) {
  return cUpdate::HexText(
      platform::Sha256Of(std::as_bytes(std::span(content.data(), content.size()))));
}

// Serves the release with `product` (a program's bytes) as acme.exe, the archive
// written in `work` first; answers the manifest served. With `digests`, every line
// carries its file's SHA-256, as a signed release has it.
inline std::string ServeAcmeRelease(TestServer& server, const TempFolder& work,
                                    const std::string& product, bool digests = false) {
  ArchiveBuilder()
      .AddFile("acme.exe", product, EntryOptions().Mode(0755))
      .Write(work / "archive.zip");
  const std::string archive = ReadWholeFile(work / "archive.zip");
  const auto line = [digests](const std::string& name, const std::string& content) {
    std::string text = name + "|" + std::to_string(content.size());
    if (digests) {
      text += "|" + Sha256Text(content);
    }
    return text + "\r\n";
  };
  server.SetFile("acme-exe-201811211540.zip", archive);
  server.SetFile("logo-jpg-201811211540.jpg", "jpeg");
  const std::string manifest = "licenca_\r\n" + line("acme-exe-201811211540.zip", archive) +
                               line("logo-jpg-201811211540.jpg", "jpeg") + "_licenca";
  server.SetManifest("acme", manifest);
  return manifest;
}

}  // namespace kalo::test
