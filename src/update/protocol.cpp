#include "update/protocol.h"

#include "update/manifest.h"

namespace cImpLicencas {

std::string ManifestAddress(const std::string& server_base, const std::string& client) {
  return server_base + std::string(kManifestPath) + "?id=" + PercentEncoded(client);
}

std::string FileAddress(const std::string& server_base, const std::string& name) {
  return server_base + std::string(kFileFolderPath) + PercentEncoded(name);
}

bool IsExecutableName(std::string_view file_name) {
  return file_name.ends_with("exe");
}

}  // namespace cImpLicencas
