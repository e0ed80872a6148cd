// kalo-publish build: a release folder becomes the server folder the updater reads.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kalo::publish {

struct BuildOptions {
  std::string release_folder;
  std::string server_folder;
  std::vector<std::string> clients;  // each gets its manifest; there is always a default
  bool allow_unversioned = false;
  std::string signing_key_file;  // empty: the manifests go unsigned
};

// Publishes the release; answers the exit status (0, or 1 with the reasons on `err`
// when the release cannot be published, in which case nothing is written).
int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& err);

// Where the manifest of `client` lies in the server folder ("default" for the rest).
std::string ManifestPath(const std::string& server_folder, const std::string& client);

// Where the signature of that manifest lies: beside it, ".assinatura" for ".txt".
std::string SignaturePath(const std::string& server_folder, const std::string& client);

}  // namespace kalo::publish
