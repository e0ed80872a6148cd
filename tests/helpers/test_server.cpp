#include "helpers/test_server.h"

#include <httplib.h>

#include <charconv>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "update/protocol.h"

namespace kalo::test {
namespace {

constexpr const char* kErrorPage =
    "<html><head><title>Error</title></head><body><h1>Something went wrong</h1></body></html>";
constexpr std::size_t kSlowPieces = 6;
// An endless body ends here all the same, unless its plan says otherwise, so that its
// thread stops by itself even when a client reads on and on. It is short because a client
// may do so: wine's WinINet reads out what is left of a body its caller gave up on.
constexpr std::size_t kEndlessLimit = 4 * 1024 * 1024;
constexpr std::size_t kEndlessPiece = 64 * 1024;

// The first byte "Range: bytes=N-" asks for, when the request asks so.
std::optional<std::size_t> RangeStart(const httplib::Request& request) {
  const std::string range = request.get_header_value("Range");
  constexpr std::string_view kUnit = "bytes=";
  if (!range.starts_with(kUnit) || !range.ends_with('-')) {
    return std::nullopt;
  }
  std::size_t start = 0;
  const char* end = range.data() + range.size() - 1;
  const auto [stop, error] = std::from_chars(range.data() + kUnit.size(), end, start);
  return error == std::errc() && stop == end ? std::optional(start) : std::nullopt;
}

std::string ETagOf(const std::string& content) {
  // Appended piece by piece: GCC 12 warns falsely on "literal" + temporary when optimising.
  std::string etag = "\"";
  etag.append(std::to_string(std::hash<std::string>{}(content))).append("\"");
  return etag;
}

// Answers a file as a static server does, a range included, or with one of the faults
// about bodies and ranges. `sent` counts the body bytes that go out.
void ServeFile(const httplib::Request& request, httplib::Response& response,
               const std::string& body, const FaultPlan& plan, std::atomic<std::uint64_t>& sent) {
  const auto content = std::make_shared<std::string>(body);
  const std::string etag = ETagOf(body);
  response.set_header("ETag", etag);
  std::optional<std::size_t> start = RangeStart(request);
  const std::string if_range = request.get_header_value("If-Range");
  if ((!if_range.empty() && if_range != etag) || plan.fault == Fault::kIgnoreRange) {
    start.reset();
  }
  if (start && (plan.fault == Fault::kRangeNotSatisfiable || *start >= content->size())) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(content->size()));
    response.set_content(kErrorPage, "text/html");
    return;
  }
  const std::size_t first = start && plan.fault != Fault::kWrongRange ? *start : 0;
  const std::size_t end = plan.fault == Fault::kDropAfter
                              ? std::min(content->size(), first + plan.bytes)
                              : content->size();
  const auto write_to = [content, end, &sent](std::size_t from, httplib::DataSink& sink) {
    if (from >= end) {
      return false;  // closes the connection before the body's end
    }
    sent += end - from;
    sink.write(content->data() + from, end - from);
    return true;
  };
  if (!start && content->empty()) {
    response.set_content("", "application/octet-stream");  // a provider takes no empty body
    return;
  }
  // The server library cuts any body with a length to the range asked for; an answer to
  // a range goes chunked, which it leaves as it stands.
  const auto send_chunked_from = [&response, write_to, whole = content->size()](std::size_t from) {
    response.set_chunked_content_provider(
        "application/octet-stream",
        [write_to, from, whole](std::size_t offset, httplib::DataSink& sink) {
          if (from + offset == whole) {
            sink.done();
            return true;
          }
          return write_to(from + offset, sink);
        });
  };
  if (!start && request.has_header("Range")) {
    response.status = 200;  // else the library says 206 for any answer to a range
    send_chunked_from(0);   // the whole file, whatever was asked
    return;
  }
  if (!start) {
    response.set_content_provider(
        content->size(), "application/octet-stream",
        [write_to](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          return write_to(offset, sink);
        });
    return;
  }
  response.status = 206;
  response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                           std::to_string(content->size() - 1) + "/" +
                                           std::to_string(content->size()));
  send_chunked_from(first);
}

// Answers with `body`, or fails the way `fault` says. `stopping` ends a stall.
void Respond(httplib::Response& response, const std::string& body, const FaultPlan& plan,
             const std::atomic<bool>& stopping, std::chrono::milliseconds slow_pause) {
  const auto content = std::make_shared<std::string>(body);
  const Fault fault = plan.fault;
  switch (fault) {
    case Fault::kNone:
    // Faults of ranges and parts concern files, which ServeFile answers.
    case Fault::kDropAfter:
    case Fault::kIgnoreRange:
    case Fault::kRangeNotSatisfiable:
    case Fault::kWrongRange:
      response.set_content(body, "application/octet-stream");
      return;
    case Fault::kNotFound:
    case Fault::kServerError:
      response.status = fault == Fault::kNotFound ? 404 : 500;
      response.set_content(kErrorPage, "text/html");
      return;
    case Fault::kBusy:
      response.status = 503;
      if (plan.retry_after >= 0) {
        response.set_header("Retry-After", std::to_string(plan.retry_after));
      }
      response.set_content(kErrorPage, "text/html");
      return;
    case Fault::kRedirect:
      response.set_redirect(plan.redirect_target);
      return;
    case Fault::kDropMidBody:
    case Fault::kShortBody: {
      const std::size_t sent =
          fault == Fault::kDropMidBody ? content->size() / 2 : content->size() - 1;
      response.set_content_provider(
          content->size(), "application/octet-stream",
          [content, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < sent) {
              sink.write(content->data() + offset, sent - offset);
              return true;
            }
            return false;  // closes the connection before the declared length
          });
      return;
    }
    case Fault::kStallMidBody:
      // Named as a file answer is, so that what arrived can be continued later.
      response.set_header("ETag", ETagOf(body));
      response.set_content_provider(
          content->size(), "application/octet-stream",
          [&stopping, content](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write(content->data(), content->size() / 2);
              return true;
            }
            while (!stopping) {
              std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return false;
          });
      return;
    case Fault::kSlowBody:
      response.set_content_provider(
          content->size(), "application/octet-stream",
          [&stopping, slow_pause, content](std::size_t offset, std::size_t,
                                           httplib::DataSink& sink) {
            if (offset > 0) {
              std::this_thread::sleep_for(slow_pause);
            }
            const std::size_t piece = std::max<std::size_t>(1, content->size() / kSlowPieces);
            sink.write(content->data() + offset, std::min(piece, content->size() - offset));
            return !stopping.load();
          });
      return;
    case Fault::kDripBody:
      response.set_content_provider(content->size(), "application/octet-stream",
                                    [&stopping, slow_pause, content](
                                        std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      if (offset > 0) {
                                        std::this_thread::sleep_for(slow_pause);
                                      }
                                      sink.write(content->data() + offset, 1);
                                      return !stopping.load();
                                    });
      return;
    case Fault::kEndlessBody: {
      const auto filler = std::make_shared<std::string>();
      for (std::string line = "filler\r\n"; filler->size() + line.size() <= kEndlessPiece;) {
        *filler += line;
      }
      const std::size_t most = plan.bytes > 0 ? plan.bytes : kEndlessLimit;
      response.set_chunked_content_provider(
          "text/plain",
          [&stopping, content, filler, most](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= most || stopping) {
              sink.done();
              return true;
            }
            // A failed write means the client has gone; the answer ends there.
            return offset == 0 ? sink.write(content->data(), content->size()) &&
                                     sink.write(filler->data(), filler->size())
                               : sink.write(filler->data(), filler->size());
          });
      return;
    }
  }
}

// True when `request` carries `credentials` (when there are any) as Basic authentication
// sends them to a server or to a proxy; else the answer is the challenge.
bool Authorized(const std::optional<Credentials>& credentials, const httplib::Request& request,
                httplib::Response& response, bool proxy) {
  if (!credentials) {
    return true;
  }
  const auto [header, expected] =
      httplib::make_basic_authentication_header(credentials->user, credentials->password, proxy);
  if (request.get_header_value(header) == expected) {
    return true;
  }
  response.status = proxy ? 407 : 401;
  response.set_header(proxy ? "Proxy-Authenticate" : "WWW-Authenticate", "Basic realm=\"kalo\"");
  response.set_content(kErrorPage, "text/html");
  return false;
}

// Listens on a free loopback port and returns only once the accept loop runs:
// stopping a server before that would leave its thread waiting for ever.
int StartListening(httplib::Server& server, std::thread& thread) {
  // The keep-alive time is also how long a new connection may take to send its first
  // request, which a busy machine (or WinINet after a TLS handshake) can delay well past
  // a moment. A stopping server waits for every idle connection, and WinINet keeps its
  // connections open long after a transfer: so each connection carries one request and
  // closes after its answer.
  server.set_keep_alive_max_count(1);
  server.set_keep_alive_timeout(5);
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    throw std::runtime_error("test server: no free port");
  }
  thread = std::thread([&server] { server.listen_after_bind(); });
  while (!server.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return port;
}

}  // namespace

TestServer::TestServer() : TestServer(std::make_unique<httplib::Server>(), "http") {}

TestServer::TestServer(std::unique_ptr<httplib::Server> server, std::string scheme)
    : server_(std::move(server)), scheme_(std::move(scheme)) {
  server_->Get(std::string(cImpLicencas::kManifestPath),
               [this](const httplib::Request& request, httplib::Response& response) {
                 const std::string client = request.get_param_value("id");
                 std::string body;
                 {
                   const std::lock_guard lock(mutex_);
                   manifest_requests_.push_back(client);
                   const auto found = manifests_.find(client);
                   body = found == manifests_.end() ? "" : found->second;
                 }
                 const FaultPlan plan = TakeFault(request.path);
                 Respond(response, body, plan, stopping_, slow_pause_);
               });
  server_->Get(std::string(cImpLicencas::kSignaturePath),
               [this](const httplib::Request& request, httplib::Response& response) {
                 AnswerStored(signatures_, request.get_param_value("id"), request, response);
               });
  server_->Get(std::string(cImpLicencas::kFileFolderPath) + "(.+)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 AnswerStored(files_, request.matches[1], request, response);
               });
  // Recorded before the answer goes out: a logger runs after it, when the client may
  // already be looking at the record.
  server_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        const std::lock_guard lock(mutex_);
        request_targets_.push_back(request.target);
        return Authorized(required_, request, response, false)
                   ? httplib::Server::HandlerResponse::Unhandled
                   : httplib::Server::HandlerResponse::Handled;
      });
  port_ = StartListening(*server_, thread_);
}

void TestServer::AnswerStored(const std::map<std::string, std::string>& stored,
                              const std::string& key, const httplib::Request& request,
                              httplib::Response& response) {
  const FaultPlan plan = TakeFault(request.path);
  std::optional<std::string> body;
  {
    const std::lock_guard lock(mutex_);
    if (const auto found = stored.find(key); found != stored.end()) {
      body = found->second;
    }
    if (&stored == &files_) {
      range_requests_.push_back(request.get_header_value("Range"));
    }
  }
  switch (plan.fault) {
    case Fault::kNone:
      if (!body) {
        break;
      }
      [[fallthrough]];
    case Fault::kDropAfter:
    case Fault::kIgnoreRange:
    case Fault::kRangeNotSatisfiable:
    case Fault::kWrongRange:
      ServeFile(request, response, body.value_or(""), plan, file_bytes_sent_);
      return;
    default:
      Respond(response, body.value_or(""), plan, stopping_, slow_pause_);
      return;
  }
  Respond(response, "", Fault::kNotFound, stopping_, slow_pause_);
}

TestServer::~TestServer() {
  stopping_ = true;
  server_->stop();
  thread_.join();
}

std::string TestServer::BaseAddress() const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

void TestServer::RequireCredentials(const Credentials& credentials) {
  const std::lock_guard lock(mutex_);
  required_ = credentials;
}

void TestServer::SetManifest(const std::string& client, const std::string& body) {
  const std::lock_guard lock(mutex_);
  manifests_[client] = body;
}

void TestServer::SetSignature(const std::string& client, const std::string& body) {
  const std::lock_guard lock(mutex_);
  signatures_[client] = body;
}

void TestServer::SetFile(const std::string& name, const std::string& content) {
  const std::lock_guard lock(mutex_);
  files_[name] = content;
}

void TestServer::SetFault(const std::string& path, Fault fault,
                          const std::string& redirect_target) {
  FaultPlan plan(fault);
  plan.redirect_target = redirect_target;
  const std::lock_guard lock(mutex_);
  faults_[path] = {std::move(plan)};
}

void TestServer::PlanFaults(const std::string& path, std::vector<FaultPlan> plans) {
  const std::lock_guard lock(mutex_);
  faults_[path] = std::move(plans);
}

std::vector<std::string> TestServer::ManifestRequests() const {
  const std::lock_guard lock(mutex_);
  return manifest_requests_;
}

std::vector<std::string> TestServer::RequestTargets() const {
  const std::lock_guard lock(mutex_);
  return request_targets_;
}

std::vector<std::string> TestServer::RangeRequests() const {
  const std::lock_guard lock(mutex_);
  return range_requests_;
}

FaultPlan TestServer::TakeFault(const std::string& path) {
  const std::lock_guard lock(mutex_);
  const auto found = faults_.find(path);
  if (found == faults_.end() || found->second.empty()) {
    return {};
  }
  FaultPlan& next = found->second.front();
  FaultPlan plan = next;
  if (next.times > 0 && --next.times == 0) {
    if (next.then_content && path.starts_with(cImpLicencas::kFileFolderPath)) {
      files_[path.substr(cImpLicencas::kFileFolderPath.size())] = *next.then_content;
    }
    found->second.erase(found->second.begin());
  }
  return plan;
}

TestProxy::TestProxy() : server_(std::make_unique<httplib::Server>()) {
  // Every request is handled before routing, since the router knows only paths and a
  // proxy's requests carry whole addresses.
  server_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        {
          const std::lock_guard lock(mutex_);
          request_targets_.push_back(request.target);
          if (!Authorized(required_, request, response, true)) {
            return httplib::Server::HandlerResponse::Handled;
          }
        }
        const auto scheme_end = request.target.find("://");
        const auto path_start = scheme_end == std::string::npos
                                    ? std::string::npos
                                    : request.target.find('/', scheme_end + 3);
        if (path_start == std::string::npos) {
          response.status = 400;
          return httplib::Server::HandlerResponse::Handled;
        }
        httplib::Client target(request.target.substr(0, path_start));
        const auto answer = target.Get(request.target.substr(path_start));
        if (!answer) {
          response.status = 502;
          return httplib::Server::HandlerResponse::Handled;
        }
        response.status = answer->status;
        if (answer->has_header("Location")) {
          response.set_header("Location", answer->get_header_value("Location"));
        }
        response.set_content(answer->body, answer->get_header_value("Content-Type"));
        return httplib::Server::HandlerResponse::Handled;
      });
  port_ = StartListening(*server_, thread_);
}

TestProxy::~TestProxy() {
  server_->stop();
  thread_.join();
}

std::string TestProxy::Address() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void TestProxy::RequireCredentials(const Credentials& credentials) {
  const std::lock_guard lock(mutex_);
  required_ = credentials;
}

std::vector<std::string> TestProxy::RequestTargets() const {
  const std::lock_guard lock(mutex_);
  return request_targets_;
}

}  // namespace kalo::test
