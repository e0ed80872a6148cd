#include "serve_command.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/web_address.h"
#include "release_store.h"
#include "support/exit_status.h"
#include "support/text.h"
#include "update/manifest.h"
#include "update/protocol.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 256 * 1024;

// How long a connection may stay silent, before a request, between two or in the middle
// of one, before it is closed: idle connections must not hold workers for long.
constexpr auto kIdleLimit = std::chrono::seconds(2);

// Each open connection holds a worker for as long as it lasts; this many leave workers
// for the requests that come while idle connections wait out their limit.
constexpr std::size_t kMaxWorkers = 256;

// Runs each connection on a worker of its own, starting workers as connections come
// (up to kMaxWorkers; past that, connections wait for a worker to be free).
class ConnectionWorkers : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override {
    const std::scoped_lock lock(mutex_);
    tasks_.push_back(std::move(task));
    if (tasks_.size() > waiting_ && workers_.size() < kMaxWorkers) {
      workers_.emplace_back([this] { Work(); });
    } else {
      task_ready_.notify_one();
    }
  }

  void shutdown() override {
    {
      const std::scoped_lock lock(mutex_);
      stopping_ = true;
    }
    task_ready_.notify_all();
    workers_.clear();  // each joins once its connection is done
  }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++waiting_;
      task_ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      --waiting_;
      if (tasks_.empty()) {
        return;
      }
      const std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable task_ready_;
  std::deque<std::function<void()>> tasks_;
  std::size_t waiting_ = 0;  // workers waiting for a task
  bool stopping_ = false;
  std::vector<std::jthread> workers_;
};

// Streams a file from disk, so that serving a large file costs no memory.
void ServeFile(const fs::path& path, const char* type, httplib::Response& response) {
  auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
  response.set_content_provider(
      fs::file_size(path), type,
      [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        std::vector<char> buffer(std::min(length, kChunk));
        file->seekg(static_cast<std::streamoff>(offset));
        file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto read = static_cast<std::size_t>(file->gcount());
        return read > 0 && sink.write(buffer.data(), read);
      });
}

// A file name the folder may answer for: no path of its own, nothing hidden.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find_first_of("/\\") == std::string::npos;
}

// The client whose manifest answers a request: the one named in "id" when it has its
// own, else "default"; nothing when neither has one.
std::optional<std::string> ServedClient(const fs::path& root, const httplib::Request& request) {
  const std::string client = cUpdate::LowerCase(request.get_param_value("id"));
  for (const std::string& candidate : {client, std::string("default")}) {
    if (!candidate.empty() && fs::is_regular_file(ManifestPath(root.string(), candidate))) {
      return candidate;
    }
  }
  return std::nullopt;
}

// Answers the file that `path_of` (ManifestPath, SignaturePath) names for the served
// client, so that a signature always comes from beside the manifest it signs.
void ServeForClient(const fs::path& root, const httplib::Request& request,
                    httplib::Response& response,
                    std::string (*path_of)(const std::string&, const std::string&)) {
  const std::optional<std::string> client = ServedClient(root, request);
  const fs::path file = client ? fs::path(path_of(root.string(), *client)) : fs::path();
  if (!client || !fs::is_regular_file(file)) {
    response.status = 404;
    return;
  }
  ServeFile(file, "text/plain", response);
}

}  // namespace

int RunServe(const ServeOptions& options) {
  const fs::path root = options.server_folder;
  httplib::Server server;
  // A response goes out as headers then body; without this the body of a kept-alive
  // connection waits for the client's delayed acknowledgement, 40 ms a file.
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(kIdleLimit.count());
  server.set_read_timeout(kIdleLimit);
  // The server owns the queue it is handed.
  server.new_task_queue = [] { return std::make_unique<ConnectionWorkers>().release(); };
  // Refused before any file is looked up: "NAME%00.jpg" must not answer NAME.
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    const bool refused = platform::HasControlCharacters(request.path) ||
                         std::ranges::any_of(request.params, [](const auto& param) {
                           return platform::HasControlCharacters(param.second);
                         });
    if (!refused) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    response.status = 400;
    return httplib::Server::HandlerResponse::Handled;
  });
  server.Get(std::string(cImpLicencas::kManifestPath),
             [&](const httplib::Request& request, httplib::Response& response) {
               ServeForClient(root, request, response, &ManifestPath);
             });
  server.Get(std::string(cImpLicencas::kSignaturePath),
             [&](const httplib::Request& request, httplib::Response& response) {
               ServeForClient(root, request, response, &SignaturePath);
             });
  server.Get(std::string(cImpLicencas::kFileFolderPath) + "([^/]+)",
             [&](const httplib::Request& request, httplib::Response& response) {
               const std::string name = request.matches[1];
               const fs::path file = root / "trabalho" / "versao" / name;
               if (!IsPlainName(name) || !fs::is_regular_file(file)) {
                 response.status = 404;
                 return;
               }
               ServeFile(file, "application/octet-stream", response);
             });
  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    std::cout << request.remote_addr << " " << request.method << " " << request.target << " "
              << response.status << std::endl;
  });

  const int port =
      options.port == 0
          ? server.bind_to_any_port(options.bind_address)
          : (server.bind_to_port(options.bind_address, options.port) ? options.port : -1);
  if (port <= 0) {
    std::cerr << "kalo-publish: não foi possível abrir " << options.bind_address << ":"
              << options.port << '\n';
    return kalo::exit_status::kFailure;
  }
  std::cout << "http://" << options.bind_address << ":" << port << std::endl;
  return server.listen_after_bind() ? kalo::exit_status::kSuccess : kalo::exit_status::kFailure;
}

}  // namespace kalo::publish
