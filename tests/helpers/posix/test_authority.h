// A certificate authority made for one test, which no system store knows, and an HTTPS
// test server whose certificate it signed. Linux only: the Windows build of the tests
// has no TLS server.
#pragma once

#include <memory>
#include <string>

#include "helpers/temp_folder.h"
#include "helpers/test_server.h"

namespace kalo::test {

class TestAuthority {
 public:
  TestAuthority();

  // The authority's certificate, alone in a file and in a folder that OpenSSL can search.
  std::string CertificateFile() const { return folder_ / "trusted/authority.pem"; }
  std::string CertificateFolder() const { return folder_ / "trusted"; }

  // A server for https://127.0.0.1:<port> with a certificate of this authority, which
  // names localhost as well.
  std::unique_ptr<TestServer> MakeServer() const;

 private:
  TempFolder folder_;
};

}  // namespace kalo::test
