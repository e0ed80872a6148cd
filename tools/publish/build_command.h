// kalo-publish build: a release folder becomes a release of the store, rolled out to a
// channel, in the server folder the updater reads.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kalo::publish {

struct BuildOptions {
  std::string release_folder;
  std::string server_folder;
  std::vector<std::string> clients;  // each gets its manifest; there is always a default
  bool allow_unversioned = false;
  std::string signing_key_file;            // empty: the manifests go unsigned
  std::optional<std::int64_t> expires_in;  // seconds a signature is good for
  std::string release_id;                  // empty: the next of the month, as 2026.12.3
  std::string channel = "stable";          // where the release is rolled out
  std::optional<int> percent;              // of the channel's clients; all when not given
  bool hold = false;                       // kept in the store, rolled out to no one
};

// Publishes the release; answers the exit status (0, or 1 with the reasons on `err`
// when the release cannot be published, in which case nothing is served differently).
int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kalo::publish
