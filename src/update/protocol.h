// The protocol between the updater and the update server, in one place for both
// sides (the update run and kalo-publish): the addresses, the build stamp and which
// files count as programs. The manifest's wire format is in manifest.h.
#pragma once

#include <string>
#include <string_view>

namespace cImpLicencas {

// The manifest page below the server base address; the client goes in "id".
inline constexpr std::string_view kManifestPath = "/trabalho/versao.php";
// The manifest's signature, beside it: the same "id" picks it the same way.
inline constexpr std::string_view kSignaturePath = "/trabalho/assinatura.php";
// The folder of the published files below the server base address.
inline constexpr std::string_view kFileFolderPath = "/trabalho/versao/";

// The pattern of a build stamp, the date and time a version number stands for.
inline constexpr const char* kStampPattern = "yyyymmddhhnn";

// The manifest's address for `client`, percent-encoded.
std::string ManifestAddress(const std::string& server_base, const std::string& client);

// The address of the signature of the manifest of `client`, percent-encoded.
std::string SignatureAddress(const std::string& server_base, const std::string& client);

// The address of the published file `name`, percent-encoded; a name of letters,
// digits, ".", "-" and "_" travels unchanged.
std::string FileAddress(const std::string& server_base, const std::string& name);

// True when the file is judged by its version rather than its length: its name ends
// in "exe", exactly so.
bool IsExecutableName(std::string_view file_name);

}  // namespace cImpLicencas
