#include "platform/internet_transfer.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/internet_transfer_base.h"
#include "platform/plain_text.h"

namespace kalo::platform {
namespace {

// Larger reads than curl's default mean fewer calls per megabyte on fast links.
constexpr long kReceiveBufferBytes = 512 * 1024;

// The failures of a connection, which may pass when the transfer is tried again; a
// refused certificate, a bad address or a refused redirect will not.
bool IsTransient(CURLcode result) {
  switch (result) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

class CurlGlobal {
 public:
  CurlGlobal() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw Error(error_number::kTransferFailed, "Não foi possível iniciar o cliente HTTP",
                  kTransferSource);
    }
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
  ~CurlGlobal() { curl_global_cleanup(); }
};

// What the callbacks of one transfer share with the loop that drives it.
struct TransferContext {
  CURL* easy = nullptr;
  TransferWatch* watch = nullptr;
  // What the watch or the sink threw inside a callback, thrown again outside curl.
  std::exception_ptr error;
  ResponseHead head;  // of the latest answer; a redirect's is replaced by the next
};

// The length the server announces for the body, when it announces one.
std::optional<std::uint64_t> AnnouncedLength(CURL* easy) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(length);
}

// The answer's head as far as it came, with its status code and length.
ResponseHead HeadOf(const TransferContext& context) {
  ResponseHead head = context.head;
  long code = 0;
  curl_easy_getinfo(context.easy, CURLINFO_RESPONSE_CODE, &code);
  head.code = static_cast<int>(code);
  head.content_length = AnnouncedLength(context.easy);
  return head;
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
  try {
    // Curl hands the body over only once the final answer's headers are read.
    if (!context->watch->Begun()) {
      context->watch->Begin(HeadOf(*context));
    }
    context->watch->Deliver(std::as_bytes(std::span(data, size * count)));
  } catch (...) {
    // An exception must not cross libcurl's C frames; stop and rethrow it later.
    context->error = std::current_exception();
    return 0;
  }
  return size * count;
}

// The value of the header `name` (lower case, with its colon) when `line` is that header.
std::optional<std::string> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() < name.size() || !EqualIgnoringAsciiCase(line.substr(0, name.size()), name)) {
    return std::nullopt;
  }
  return std::string(Trimmed(line.substr(name.size()), " \t\r\n"));
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* context = static_cast<TransferContext*>(user);
  context->watch->Count(size * count);
  const std::string_view line(data, size * count);
  ResponseHead& head = context->head;
  // Every response of a redirect chain starts with its status line; the last one counts.
  if (line.starts_with("HTTP/")) {
    head = {};
    head.text = ReasonPhraseOf(line);
  } else if (const auto retry_after = HeaderValue(line, "retry-after:")) {
    head.retry_after = RetryAfterSeconds(*retry_after);
  } else if (auto range = HeaderValue(line, "content-range:")) {
    head.content_range = std::move(*range);
  } else if (auto etag = HeaderValue(line, "etag:")) {
    head.etag = std::move(*etag);
  } else if (auto modified = HeaderValue(line, "last-modified:")) {
    head.last_modified = std::move(*modified);
  }
  return size * count;
}

// The value of an environment variable when it is set and not empty.
std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::optional<std::string>(value) : std::nullopt;
}

// The certificate authorities the user trusts beyond the system's, where OpenSSL's own
// tools look for them: a user who cannot write the system store can still name a
// company's authority.
void TrustUsersAuthorities(CURL* handle) {
  if (const auto file = Variable("SSL_CERT_FILE")) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, file->c_str());
  }
  if (const auto folder = Variable("SSL_CERT_DIR")) {
    curl_easy_setopt(handle, CURLOPT_CAPATH, folder->c_str());
  }
}

curl_off_t Timing(CURL* easy, CURLINFO what) {
  curl_off_t microseconds = 0;
  curl_easy_getinfo(easy, what, &microseconds);
  return microseconds;
}

class CurlTransfer final : public InternetTransferBase {
 public:
  CurlTransfer(Ui& ui, const Clock& clock, TransferTimeouts timeouts, std::string proxy)
      : InternetTransferBase(ui, clock, timeouts),
        proxy_(std::move(proxy)),
        multi_(curl_multi_init()) {
    // A setting that names no proxy curl can use fails here rather than let transfers go
    // past it.
    ProxyAddress(proxy_, {"http", "https", "socks4", "socks4a", "socks5", "socks5h"});
    if (!multi_) {
      throw Error(error_number::kTransferFailed, "Não foi possível iniciar o cliente HTTP",
                  kTransferSource);
    }
  }

 private:
  // Keeps the handle in the multi handle for exactly one transfer.
  class Attachment {
   public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
      curl_multi_add_handle(multi_, easy_);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    ~Attachment() { curl_multi_remove_handle(multi_, easy_); }

   private:
    CURLM* multi_;
    CURL* easy_;
  };

  EasyHandle Prepare(const TransferWatch& watch, bool fail_on_http_error, TransferContext& context,
                     const HeaderList& headers, char* error_text) const {
    const std::string& url = watch.Url();
    EasyHandle easy(curl_easy_init());
    if (!easy) {
      throw Error(error_number::kTransferFailed,
                  "Não foi possível iniciar a transferência de " + url, kTransferSource);
    }
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // A transfer started over https never goes on in clear text.
    const auto address = ParseWebAddress(url);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR,
                     address && address->Secure() ? "https" : "http,https");
    TrustUsersAuthorities(handle);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
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
                     static_cast<long>(watch.Timeouts().connect.count()));
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, fail_on_http_error ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &context);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &context);
    // Sent as they stand, so that curl never judges the answer to a range itself: the
    // watch decides whether a part continues the body held.
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    return easy;
  }

  ResponseHead Fetch(TransferWatch& watch, bool fail_on_http_error) override {
    char error_text[CURL_ERROR_SIZE] = {};
    TransferContext context;
    context.watch = &watch;
    HeaderList headers;
    for (const std::string& line : watch.RequestHeaders()) {
      curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
      if (longer == nullptr) {
        throw std::bad_alloc();
      }
      static_cast<void>(headers.release());
      headers.reset(longer);
    }
    EasyHandle easy = Prepare(watch, fail_on_http_error, context, headers, error_text);
    context.easy = easy.get();
    const Attachment attachment(multi_.get(), easy.get());
    const CURLcode result = Drive(easy.get(), watch);
    if (context.error) {
      std::rethrow_exception(context.error);
    }
    ResponseHead status = HeadOf(context);
    if (result != CURLE_OK) {
      // Our own words for a refused redirect and the server's for a refused request say
      // more than curl's summary.
      const char* reached = nullptr;
      curl_easy_getinfo(easy.get(), CURLINFO_EFFECTIVE_URL, &reached);
      const auto refusal = RedirectRefusal(watch.Url(), reached != nullptr ? reached : "");
      if (!refusal && result == CURLE_HTTP_RETURNED_ERROR) {
        throw watch.Refused(status);
      }
      const std::string reason = refusal                 ? *refusal
                                 : error_text[0] != '\0' ? error_text
                                                         : curl_easy_strerror(result);
      if (result == CURLE_OPERATION_TIMEDOUT) {
        throw watch.TimedOut(reason);
      }
      throw !refusal && IsTransient(result) ? watch.Dropped(reason) : watch.Failure(reason);
    }
    return status;
  }

  // Runs the transfer to its end, serving the window between socket events.
  CURLcode Drive(CURL* easy, TransferWatch& watch) {
    for (;;) {
      int running = 0;
      const CURLMcode multi_result = curl_multi_perform(multi_.get(), &running);
      if (multi_result != CURLM_OK) {
        return CURLE_FAILED_INIT;
      }
      AdvanceByTimings(easy, watch);
      if (running == 0) {
        break;
      }
      watch.CheckRate();
      curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
      WindowUi().ProcessPendingMessages();
    }
    int remaining = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &remaining)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        return message->data.result;
      }
    }
    return CURLE_FAILED_INIT;
  }

  // Derives the transfer state from the phases curl has timed so far.
  static void AdvanceByTimings(CURL* easy, TransferWatch& watch) {
    if (Timing(easy, CURLINFO_STARTTRANSFER_TIME_T) > 0) {
      watch.Reached(TransferState::kReceiving);
    } else if (Timing(easy, CURLINFO_PRETRANSFER_TIME_T) > 0) {
      watch.Reached(TransferState::kRequestSent);
    } else if (Timing(easy, CURLINFO_CONNECT_TIME_T) > 0) {
      watch.Reached(TransferState::kRequesting);
    } else if (Timing(easy, CURLINFO_NAMELOOKUP_TIME_T) > 0) {
      watch.Reached(TransferState::kConnecting);
    }
  }

  CurlGlobal global_;
  std::string proxy_;
  MultiHandle multi_;
};

}  // namespace

std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui& ui, const Clock& clock,
                                                       TransferTimeouts timeouts,
                                                       std::string proxy) {
  return std::make_unique<CurlTransfer>(ui, clock, timeouts, std::move(proxy));
}

}  // namespace kalo::platform
