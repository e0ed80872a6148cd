// A real HTTP server on a free loopback port, serving what the update server
// serves (manifests by client id, files by name) and failing on request in the
// ways real servers and networks fail.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kalo::test {

enum class Fault {
  kNone,
  kNotFound,      // 404 with an HTML page
  kServerError,   // 500 with an HTML page
  kBusy,          // 503 with an HTML page and the plan's Retry-After (7 s unless it says)
  kDropMidBody,   // half the body, then the connection closes
  kShortBody,     // all but the last byte of the declared length, then it closes
  kStallMidBody,  // half the body, then nothing until the server stops
  kSlowBody,      // the body in small pieces, a pause between each
  kDripBody,      // the body one byte at a time, a pause between each
  kRedirect,      // 302 to the redirect target
  kEndlessBody,   // chunked: the body, then filler until the client leaves (`bytes`, or 4 MiB)
  kDropAfter,     // each answer sends `bytes` of the body from where it starts, then closes
  kIgnoreRange,   // the whole body with 200, whatever range was asked for
  kRangeNotSatisfiable,  // 416 to a request for a range
  kWrongRange,           // a range asked for is answered 206 with the body from its first byte
};

// A fault and how long it lasts. File answers carry a strong ETag made from their
// content and answer "Range: bytes=N-" with the rest of the file unless If-Range names
// another ETag, as a static server does.
struct FaultPlan {
  // A fault alone stands for itself on every request.
  FaultPlan(Fault what = Fault::kNone, int how_often = -1, std::size_t body_bytes = 0,  // NOLINT
            std::optional<std::string> new_content = std::nullopt, int wait_seconds = 7)
      : fault(what),
        times(how_often),
        bytes(body_bytes),
        then_content(std::move(new_content)),
        retry_after(wait_seconds) {}

  Fault fault;
  int times;          // the requests it fails before the path is answered right; -1: all
  std::size_t bytes;  // for kDropAfter and kEndlessBody
  std::optional<std::string> then_content;  // a file's new content once the fault is spent
  int retry_after;                          // for kBusy, in seconds; no Retry-After when negative
  std::string redirect_target;              // for kRedirect
};

// The user and password that a server or proxy demands (Basic), when it demands them.
struct Credentials {
  std::string user;
  std::string password;
};

class TestServer {
 public:
  TestServer();
  // A server over `server`, which may speak TLS, with addresses of `scheme`.
  TestServer(std::unique_ptr<httplib::Server> server, std::string scheme);
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;
  ~TestServer();

  // "http://127.0.0.1:<port>", the base address the updater is given.
  std::string BaseAddress() const;
  // Answers 401 to every request without these credentials.
  void RequireCredentials(const Credentials& credentials);

  // What /trabalho/versao.php?id=<client> answers.
  void SetManifest(const std::string& client, const std::string& body);
  // What /trabalho/assinatura.php?id=<client> answers; 404 until it is set.
  void SetSignature(const std::string& client, const std::string& body);
  // What /trabalho/versao/<name> answers.
  void SetFile(const std::string& name, const std::string& content);
  // Makes every request for `path` (without query) fail in the given way.
  void SetFault(const std::string& path, Fault fault, const std::string& redirect_target = {});
  // Makes requests for `path` (without query) fail as the plans say, one after the other.
  void PlanFaults(const std::string& path, std::vector<FaultPlan> plans);
  // The pause between the pieces of a slow or dripping body.
  void SetSlowPause(std::chrono::milliseconds pause) { slow_pause_ = pause; }

  // The decoded client ids of the manifest requests received so far, in order.
  std::vector<std::string> ManifestRequests() const;
  // The raw request targets (path and query as sent) received so far, in order.
  std::vector<std::string> RequestTargets() const;
  // The Range header of each file request so far, in order; empty for none.
  std::vector<std::string> RangeRequests() const;
  // The file body bytes sent so far.
  std::uint64_t FileBytesSent() const { return file_bytes_sent_; }

 private:
  // The fault of this request for `path`, counting it; a file whose fault is spent
  // takes its new content.
  FaultPlan TakeFault(const std::string& path);
  // Answers what `stored` holds under `key`, or 404 when nothing (a fault set for the
  // path wins over both).
  void AnswerStored(const std::map<std::string, std::string>& stored, const std::string& key,
                    const httplib::Request& request, httplib::Response& response);

  std::unique_ptr<httplib::Server> server_;
  std::string scheme_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::optional<Credentials> required_;
  std::chrono::milliseconds slow_pause_{50};
  mutable std::mutex mutex_;
  std::map<std::string, std::string> manifests_;
  std::map<std::string, std::string> signatures_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::vector<FaultPlan>> faults_;  // by path, the next first
  std::vector<std::string> manifest_requests_;
  std::vector<std::string> request_targets_;
  std::vector<std::string> range_requests_;
  std::atomic<std::uint64_t> file_bytes_sent_{0};
};

// A forward HTTP proxy on its own free loopback port: it takes requests in absolute
// form ("GET http://host:port/path"), records them and passes them on. It knows no
// CONNECT, so it carries plain HTTP only.
class TestProxy {
 public:
  TestProxy();
  TestProxy(const TestProxy&) = delete;
  TestProxy& operator=(const TestProxy&) = delete;
  ~TestProxy();

  // "http://127.0.0.1:<port>", the address a proxy setting names.
  std::string Address() const;
  // Answers 407 to every request without these credentials.
  void RequireCredentials(const Credentials& credentials);
  // The request targets received so far, in order.
  std::vector<std::string> RequestTargets() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> request_targets_;
  std::optional<Credentials> required_;
};

}  // namespace kalo::test
