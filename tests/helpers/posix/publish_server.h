// What kalo-publish serves, as tests see it: `kalo-publish serve` on a free loopback
// port, and the entries of the manifests it publishes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "helpers/child_processes.h"
#include "helpers/posix/program_run.h"
#include "helpers/temp_folder.h"
#include "helpers/wait_for.h"
#include "update/manifest.h"

namespace kalo::test {

// Runs for as long as the object lives.
class PublishServer {
 public:
  // Serves `server_folder`; the server's output goes to `log_file`.
  PublishServer(const std::string& server_folder, const std::string& log_file)
      : process_(StartProgram({KALO_PUBLISH_PROGRAM, "serve", server_folder, "--port", "0"}, {},
                              log_file)) {
    WaitFor(
        [&] {
          std::ifstream(log_file) >> url_;
          return !url_.empty();
        },
        std::chrono::seconds(5));
  }

  // The base address the server printed first; empty when it printed nothing.
  const std::string& Url() const { return url_; }

 private:
  WatchedChild process_;
  std::string url_;
};

// The entries of a manifest file as the updater reads them (a CR LF leaves an empty line).
inline std::vector<cImpLicencas::ManifestEntry> ManifestEntriesOf(
    const std::string& manifest_file) {
  std::vector<cImpLicencas::ManifestEntry> entries;
  for (const std::string& line : cImpLicencas::ManifestLinesOf(ReadWholeFile(manifest_file))
                                     .value_or(std::vector<std::string>{})) {
    if (!line.empty()) {
      entries.push_back(cImpLicencas::ParseEntry(line));
    }
  }
  return entries;
}

// A signing key of fixtures/signed copied into `folder` for its owner alone, as a vendor
// keeps it (kalo-publish warns of a key that others may read); answers the copy's path.
inline std::string FixtureSigningKey(const TempFolder& folder, const std::string& name) {
  const std::string key = folder / name;
  std::filesystem::copy_file(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/" + name, key);
  std::filesystem::permissions(
      key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return key;
}

}  // namespace kalo::test
