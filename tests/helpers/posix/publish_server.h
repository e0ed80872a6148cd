// What kalo-publish serves, as tests see it: `kalo-publish serve` on a free loopback
// port, and the entries of the manifests it publishes.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

// nginx serving a published folder with the configuration README.md gives, for as long
// as the object lives.
class NginxServer {
 public:
  static bool IsInstalled() { return std::system("command -v nginx >/dev/null 2>&1") == 0; }

  // Serves `server_folder`; its configuration and logs go into `prefix`.
  NginxServer(const std::string& server_folder, const std::string& prefix)
      : prefix_(prefix), process_(Start(server_folder, prefix, url_)) {
    WaitFor([&] { return std::filesystem::exists(prefix + "/nginx.pid"); },
            std::chrono::seconds(5));
  }

  const std::string& Url() const { return url_; }
  std::string ErrorLog() const { return ReadWholeFile(prefix_ + "/error.log"); }

 private:
  static WatchedChild Start(const std::string& server_folder, const std::string& prefix,
                            std::string& url) {
    // A free port: the system picks one, and nginx takes it right after.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    ::close(probe);
    url = "http://127.0.0.1:" + std::to_string(port);

    std::filesystem::create_directories(prefix + "/logs");
    std::ofstream(prefix + "/nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << prefix << "/nginx.pid;\nerror_log " << prefix
        << "/error.log;\nevents {}\nhttp {\n  access_log off;\n  server {\n    listen 127.0.0.1:"
        << port << ";\n    root " << server_folder
        << ";\n    location = /trabalho/versao.php {\n      default_type text/plain;\n"
           "      try_files /trabalho/manifests/$arg_id.txt /trabalho/manifests/default.txt "
           "=404;\n"
           "    }\n    location = /trabalho/assinatura.php {\n      default_type text/plain;\n"
           "      try_files /trabalho/manifests/$arg_id.assinatura"
           " /trabalho/manifests/default.assinatura =404;\n"
           "    }\n    location /trabalho/versao/ {\n      default_type "
           "application/octet-stream;\n"
           "    }\n    location / {\n      return 404;\n    }\n  }\n}\n";
    return WatchedChild(StartProgram(
        {"nginx", "-p", prefix, "-c", prefix + "/nginx.conf", "-e", prefix + "/error.log"}, {}));
  }

  std::string prefix_;
  std::string url_;
  WatchedChild process_;
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
