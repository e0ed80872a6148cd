#include "update/protocol.h"

#include "support/text.h"

namespace cImpLicencas {
namespace {

std::string ClientPageAddress(const std::string& server_base, std::string_view page,
                              const std::string& client) {
  return server_base + std::string(page) + "?id=" + cUpdate::PercentEncoded(client);
}

}  // namespace

std::string ManifestAddress(const std::string& server_base, const std::string& client) {
  return ClientPageAddress(server_base, kManifestPath, client);
}

std::string SignatureAddress(const std::string& server_base, const std::string& client) {
  return ClientPageAddress(server_base, kSignaturePath, client);
}

std::string FileAddress(const std::string& server_base, const std::string& name) {
  return server_base + std::string(kFileFolderPath) + cUpdate::PercentEncoded(name);
}

bool IsExecutableName(std::string_view file_name) {
  return file_name.ends_with("exe");
}

}  // namespace cImpLicencas
