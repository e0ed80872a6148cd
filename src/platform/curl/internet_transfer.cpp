#include "platform/internet_transfer.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/error.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "Inet::OpenURL";
constexpr long kMaxRedirects = 5;
// How long one wait for socket activity may block before the window is served again.
constexpr int kPollMilliseconds = 50;
// Larger reads than curl's default mean fewer calls per megabyte on fast links.
constexpr long kReceiveBufferBytes = 512 * 1024;

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

class CurlGlobal {
 public:
  CurlGlobal() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw Error(error_number::kTransferFailed, "Não foi possível iniciar o cliente HTTP",
                  kSource);
    }
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
  ~CurlGlobal() { curl_global_cleanup(); }
};

// What the callbacks of one transfer share with the loop that drives it.
struct TransferContext {
  CURL* easy = nullptr;
  const InternetTransfer::ByteSink* sink = nullptr;
  std::optional<std::uint64_t> max_bytes;
  std::uint64_t body_bytes = 0;
  // The stretch of time now measured against the minimum rate, and what came in it.
  Clock::TimePoint window_start;
  std::uint64_t window_bytes = 0;
  std::exception_ptr sink_error;
  std::string status_text;  // the reason phrase of the latest status line
  std::string failure;      // why the transfer was stopped here, when it was
};

// "1 KiB", "16 MiB" or "1000 bytes": a size the way failure texts show it.
std::string SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024;
  if (bytes >= kKiB * kKiB && bytes % (kKiB * kKiB) == 0) {
    return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
  }
  if (bytes >= kKiB && bytes % kKiB == 0) {
    return std::to_string(bytes / kKiB) + " KiB";
  }
  return std::to_string(bytes) + " bytes";
}

// "60 s" or "300 ms".
std::string DurationText(std::chrono::milliseconds duration) {
  return duration.count() % 1000 == 0 ? std::to_string(duration.count() / 1000) + " s"
                                      : std::to_string(duration.count()) + " ms";
}

// The length the server announces for the body, when it announces one.
std::optional<std::uint64_t> AnnouncedLength(CURL* easy) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(length);
}

// Why a body may not go on: longer than the caller allows, announced or received.
std::optional<std::string> OverLength(TransferContext& context, std::size_t length) {
  if (!context.max_bytes) {
    return std::nullopt;
  }
  const std::uint64_t max = *context.max_bytes;
  // Curl hands the body over only once the final answer's headers are read, so its
  // announced length is known before the first byte goes to the sink.
  if (context.body_bytes == 0) {
    if (const auto announced = AnnouncedLength(context.easy); announced && *announced > max) {
      return "o servidor anuncia " + std::to_string(*announced) + " bytes, mais que os " +
             std::to_string(max) + " esperados";
    }
  }
  if (length > max - context.body_bytes) {
    return "a resposta passa dos " + std::to_string(max) + " bytes esperados";
  }
  return std::nullopt;
}

// "HTTP/1.1 404 Not Found\r\n" gives "Not Found"; HTTP/2 sends no phrase.
std::string ReasonPhraseOf(std::string_view status_line) {
  while (!status_line.empty() && (status_line.back() == '\r' || status_line.back() == '\n')) {
    status_line.remove_suffix(1);
  }
  for (int field = 0; field < 2; ++field) {
    const auto blank = status_line.find(' ');
    status_line =
        blank == std::string_view::npos ? std::string_view() : status_line.substr(blank + 1);
  }
  return std::string(status_line);
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* context = static_cast<TransferContext*>(user);
  context->window_bytes += size * count;
  if (auto over = OverLength(*context, size * count)) {
    context->failure = std::move(*over);
    return 0;
  }
  context->body_bytes += size * count;
  try {
    (*context->sink)(std::as_bytes(std::span(data, size * count)));
  } catch (...) {
    // An exception must not cross libcurl's C frames; stop and rethrow it later.
    context->sink_error = std::current_exception();
    return 0;
  }
  return size * count;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* context = static_cast<TransferContext*>(user);
  context->window_bytes += size * count;
  const std::string_view line(data, size * count);
  // Every response of a redirect chain starts with its status line; the last one counts.
  if (line.starts_with("HTTP/")) {
    context->status_text = ReasonPhraseOf(line);
  }
  return size * count;
}

curl_off_t Timing(CURL* easy, CURLINFO what) {
  curl_off_t microseconds = 0;
  curl_easy_getinfo(easy, what, &microseconds);
  return microseconds;
}

class CurlTransfer final : public InternetTransfer {
 public:
  CurlTransfer(Ui& ui, const Clock& clock, TransferTimeouts timeouts, std::string proxy)
      : ui_(ui),
        clock_(clock),
        timeouts_(timeouts),
        proxy_(std::move(proxy)),
        multi_(curl_multi_init()) {
    if (!multi_) {
      throw Error(error_number::kTransferFailed, "Não foi possível iniciar o cliente HTTP",
                  kSource);
    }
  }

  TextReply OpenUrlText(const std::string& url) override {
    TextReply reply;
    const ByteSink append = [&reply, &url](std::span<const std::byte> bytes) {
      if (bytes.size() > kMaxTextBytes - reply.body.size()) {
        throw Error(error_number::kTransferFailed,
                    "A resposta de " + url + " passa de " +
                        std::to_string(kMaxTextBytes / (1024 * 1024)) + " MiB",
                    kSource);
      }
      reply.body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    const Status status = Run(url, false, append, std::nullopt);
    reply.status = status.code;
    reply.status_text = status.text;
    return reply;
  }

  // The default of `max_bytes` is the interface's; an override repeating it could drift.
  void OpenUrlBytes(const std::string& url, const ByteSink& sink,
                    std::optional<std::uint64_t> max_bytes) override {
    Run(url, true, sink, max_bytes);
  }

  bool StillExecuting() const override { return executing_; }

  std::string ReportedText() const override { return url_; }

  void SetStateHandler(StateHandler handler) override { handler_ = std::move(handler); }

 private:
  // Keeps the handle in the multi handle for exactly one transfer.
  class Attachment {
   public:
    Attachment(CurlTransfer& owner, CURL* easy) : owner_(owner), easy_(easy) {
      curl_multi_add_handle(owner_.multi_.get(), easy_);
      owner_.executing_ = true;
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    ~Attachment() {
      curl_multi_remove_handle(owner_.multi_.get(), easy_);
      owner_.executing_ = false;
    }

   private:
    CurlTransfer& owner_;
    CURL* easy_;
  };

  EasyHandle Prepare(const std::string& url, bool fail_on_http_error, TransferContext& context,
                     char* error_text) const {
    EasyHandle easy(curl_easy_init());
    if (!easy) {
      throw Error(error_number::kTransferFailed,
                  "Não foi possível iniciar a transferência de " + url, kSource);
    }
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Without a setting curl follows the environment's proxy variables itself.
    if (proxy_ == kDirectConnection) {
      // An empty proxy address switches off the environment's proxy too.
      curl_easy_setopt(handle, CURLOPT_PROXY, "");
    } else if (!proxy_.empty()) {
      curl_easy_setopt(handle, CURLOPT_PROXY, proxy_.c_str());
      // The chosen proxy carries every transfer, whatever no_proxy excludes.
      curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    }
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, fail_on_http_error ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &context);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &context);
    return easy;
  }

  struct Status {
    int code = 0;
    std::string text;
  };

  // Runs one transfer to its end and answers the HTTP status it ended with.
  Status Run(const std::string& url, bool fail_on_http_error, const ByteSink& sink,
             std::optional<std::uint64_t> max_bytes) {
    char error_text[CURL_ERROR_SIZE] = {};
    TransferContext context;
    context.sink = &sink;
    context.max_bytes = max_bytes;
    context.window_start = clock_.Now();
    EasyHandle easy = Prepare(url, fail_on_http_error, context, error_text);
    context.easy = easy.get();
    url_ = url;
    state_ = TransferState::kNone;

    // The last states are reported while the transfer still counts as executing,
    // as they belong to it.
    const Attachment attachment(*this, easy.get());
    Advance(TransferState::kResolving);
    const CURLcode result = Drive(easy.get(), context);
    if (context.sink_error) {
      Report(TransferState::kError);
      std::rethrow_exception(context.sink_error);
    }
    long code = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
    Status status{static_cast<int>(code), context.status_text};
    if (result != CURLE_OK) {
      Report(TransferState::kError);
      // The server's own words for a refused request say more than curl's summary.
      const std::string reason = !context.failure.empty() ? context.failure
                                 : result == CURLE_HTTP_RETURNED_ERROR
                                     ? HttpStatusText(status.code, status.text)
                                 : error_text[0] != '\0' ? error_text
                                                         : curl_easy_strerror(result);
      throw Error(result == CURLE_OPERATION_TIMEDOUT ? error_number::kTransferTimedOut
                                                     : error_number::kTransferFailed,
                  TransferFailureText(url, reason), kSource);
    }
    Advance(TransferState::kClosed);
    Report(TransferState::kCompleted);
    return status;
  }

  // Runs the transfer to its end, serving the window between socket events.
  CURLcode Drive(CURL* easy, TransferContext& context) {
    for (;;) {
      int running = 0;
      const CURLMcode multi_result = curl_multi_perform(multi_.get(), &running);
      if (multi_result != CURLM_OK) {
        return CURLE_FAILED_INIT;
      }
      AdvanceByTimings(easy, context);
      if (running == 0) {
        break;
      }
      if (Stalled(context)) {
        context.failure = "a transferência parou: menos de " + SizeText(timeouts_.min_bytes) +
                          " em " + DurationText(timeouts_.idle);
        return CURLE_OPERATION_TIMEDOUT;
      }
      curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
      ui_.ProcessPendingMessages();
    }
    int remaining = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &remaining)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        return message->data.result;
      }
    }
    return CURLE_FAILED_INIT;
  }

  // Measures the transfer in back-to-back stretches of the idle time-out from the
  // connection on: one that brought less than the minimum means a stall.
  bool Stalled(TransferContext& context) const {
    if (state_ < TransferState::kConnected) {
      return false;
    }
    const Clock::TimePoint now = clock_.Now();
    if (now - context.window_start < timeouts_.idle) {
      return false;
    }
    if (context.window_bytes < timeouts_.min_bytes) {
      return true;
    }
    context.window_start = now;
    context.window_bytes = 0;
    return false;
  }

  // Derives the transfer state from the phases curl has timed so far.
  void AdvanceByTimings(CURL* easy, TransferContext& context) {
    const TransferState before = state_;
    if (Timing(easy, CURLINFO_STARTTRANSFER_TIME_T) > 0) {
      Advance(TransferState::kReceiving);
    } else if (Timing(easy, CURLINFO_PRETRANSFER_TIME_T) > 0) {
      Advance(TransferState::kRequestSent);
    } else if (Timing(easy, CURLINFO_CONNECT_TIME_T) > 0) {
      Advance(TransferState::kRequesting);
    } else if (Timing(easy, CURLINFO_NAMELOOKUP_TIME_T) > 0) {
      Advance(TransferState::kConnecting);
    }
    if (before < TransferState::kConnected && state_ >= TransferState::kConnected) {
      context.window_start = clock_.Now();
    }
  }

  // Reports every state between the current one and `target` (at most kClosed),
  // in order, so that a phase curl went through too fast to see is still shown.
  void Advance(TransferState target) {
    while (state_ < target) {
      Report(static_cast<TransferState>(static_cast<int>(state_) + 1));
    }
  }

  void Report(TransferState state) {
    state_ = state;
    if (handler_) {
      handler_(state);
    }
  }

  CurlGlobal global_;
  Ui& ui_;
  const Clock& clock_;
  TransferTimeouts timeouts_;
  std::string proxy_;
  MultiHandle multi_;
  StateHandler handler_;
  std::string url_;
  TransferState state_ = TransferState::kNone;
  bool executing_ = false;
};

}  // namespace

std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui& ui, const Clock& clock,
                                                       TransferTimeouts timeouts,
                                                       std::string proxy) {
  return std::make_unique<CurlTransfer>(ui, clock, timeouts, std::move(proxy));
}

}  // namespace kalo::platform
