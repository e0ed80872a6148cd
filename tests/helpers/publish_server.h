// `kalo-publish serve` on a free loopback port, running for as long as the object lives.
#pragma once

#include <chrono>
#include <fstream>
#include <string>

#include "helpers/child_processes.h"
#include "helpers/program_run.h"
#include "helpers/wait_for.h"

namespace kalo::test {

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

}  // namespace kalo::test
