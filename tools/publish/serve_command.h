// kalo-publish serve: the server folder over HTTP, at the paths the updater uses.
#pragma once

#include <string>

namespace kalo::publish {

struct ServeOptions {
  std::string server_folder;
  int port = 8080;  // 0 picks a free port
  std::string bind_address = "127.0.0.1";
};

// Serves until the process is stopped; answers 1 when the port cannot be opened.
// The first line on standard output is "http://ADDRESS:PORT", the base address.
int RunServe(const ServeOptions& options);

}  // namespace kalo::publish
