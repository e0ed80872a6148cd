#include "helpers/posix/test_authority.h"

#include <httplib.h>

#include <cstdlib>
#include <stdexcept>

namespace kalo::test {
namespace {

void RunOpenssl(const std::string& arguments, const TempFolder& folder) {
  const std::string command =
      "cd '" + folder.Path().string() + "' && openssl " + arguments + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    throw std::runtime_error("test authority: openssl " + arguments + " failed");
  }
}

}  // namespace

TestAuthority::TestAuthority() {
  std::filesystem::create_directory(folder_.Path() / "trusted");
  // Wine matches only names against a certificate, so the server answers to both.
  folder_.Write("server.ext",
                "basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n");
  const std::string new_key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
  RunOpenssl("req -x509 " + new_key +
                 " -keyout authority.key -out trusted/authority.pem -days 2"
                 " -subj '/CN=Kalo Test Authority'"
                 " -addext basicConstraints=critical,CA:TRUE"
                 " -addext keyUsage=critical,keyCertSign,cRLSign",
             folder_);
  RunOpenssl("req " + new_key + " -keyout server.key -out server.csr -subj /CN=localhost", folder_);
  RunOpenssl(
      "x509 -req -in server.csr -CA trusted/authority.pem -CAkey authority.key"
      " -CAcreateserial -out server.pem -days 2 -extfile server.ext",
      folder_);
  // The folder form finds certificates by the hash of their subject.
  RunOpenssl("rehash trusted", folder_);
}

std::unique_ptr<TestServer> TestAuthority::MakeServer() const {
  const std::string certificate = folder_ / "server.pem";
  const std::string key = folder_ / "server.key";
  return std::make_unique<TestServer>(
      std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str()), "https");
}

}  // namespace kalo::test
