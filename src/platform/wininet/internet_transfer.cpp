// The transfer component over WinINet in its asynchronous mode: the operations run on
// WinINet's own threads and report through a status callback, while the caller's thread
// waits for them and keeps the window served.
#include "platform/internet_transfer.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/internet_transfer_base.h"
#include "platform/win32/system_message.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

constexpr DWORD kReadBytes = 64 * 1024;
constexpr const wchar_t* kAgent = L"kalo_upd";
// WinINet sends requests for this computer's own addresses past the proxy it is given,
// unless the bypass list takes them out; the chosen proxy carries every transfer.
constexpr const wchar_t* kBypassNothing = L"<-loopback>";
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT;

struct InternetCloser {
  void operator()(HINTERNET handle) const { ::InternetCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

// What the status callback tells the thread that waits on one request. WinINet calls it
// on threads of its own until it reports the request's handle closed, which may come
// after the transfer has given up on the request: the callback holds a share till then.
struct RequestSignals {
  win32::Handle completed{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<int> reached{static_cast<int>(TransferState::kNone)};
  std::atomic<DWORD> error{ERROR_SUCCESS};  // of the last operation that completed later
  // Where reads and queries that complete later put their answers. A stalled transfer
  // gives up while one is still under way, so they live as long as the callback's share.
  std::vector<std::byte> buffer = std::vector<std::byte>(kReadBytes);
  DWORD read = 0;
  DWORD available = 0;
};
using SignalsShare = std::shared_ptr<RequestSignals>;

std::optional<TransferState> StateOf(DWORD status) {
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      return TransferState::kResolving;
    case INTERNET_STATUS_NAME_RESOLVED:
      return TransferState::kResolved;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      return TransferState::kConnecting;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      return TransferState::kConnected;
    case INTERNET_STATUS_SENDING_REQUEST:
      return TransferState::kRequesting;
    case INTERNET_STATUS_REQUEST_SENT:
      return TransferState::kRequestSent;
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      return TransferState::kReceiving;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      return TransferState::kResponseReceived;
    case INTERNET_STATUS_CLOSING_CONNECTION:
      return TransferState::kClosing;
    case INTERNET_STATUS_CONNECTION_CLOSED:
      return TransferState::kClosed;
    default:
      return std::nullopt;
  }
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD) {
  // Only requests carry a context; the session and its connections are not followed.
  if (context == 0) {
    return;
  }
  auto* share = reinterpret_cast<SignalsShare*>(context);
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    // The last word on the handle: the callback's share goes with it.
    const std::unique_ptr<SignalsShare> last(share);
    return;
  }
  RequestSignals& signals = **share;
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
    signals.error = result->dwResult != 0 ? ERROR_SUCCESS : result->dwError;
    ::SetEvent(signals.completed.get());
  } else if (const auto state = StateOf(status)) {
    // Statuses come again as more of the body arrives; states only move on.
    const int value = static_cast<int>(*state);
    int reached = signals.reached.load();
    while (reached < value && !signals.reached.compare_exchange_weak(reached, value)) {
    }
  }
}

// The system's words for a failure of WinINet, whose texts its own module carries.
std::string InternetErrorText(DWORD code) {
  const std::string text = SystemMessage(code, ::GetModuleHandleW(L"wininet.dll"));
  return text.empty() ? "erro " + std::to_string(code) + " do WinINet" : text;
}

// The failure of an operation that WinINet ended with `code`.
TransferError FailureOf(const TransferWatch& watch, DWORD code) {
  // WinINet reports its own time-outs, or passes on those of the socket below it.
  if (code == ERROR_INTERNET_TIMEOUT || code == WSAETIMEDOUT) {
    return watch.State() >= TransferState::kConnected
               ? watch.Stalled()
               : watch.TimedOut("sem conexão com o servidor em " +
                                DurationText(watch.Timeouts().connect));
  }
  switch (code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_INTERNET_SERVER_UNREACHABLE:
    case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
      // The failures of a connection, which may pass when the transfer is tried again.
      return watch.Dropped(InternetErrorText(code));
    default:
      return watch.Failure(InternetErrorText(code));
  }
}

// Where a request goes, as WinINet's connection and request functions take it.
struct Target {
  std::wstring host;
  INTERNET_PORT port = 0;
  bool secure = false;
  std::wstring object;  // path and query
  std::wstring user;
  std::optional<std::wstring> password;
};

// The target of an http or https address; nothing for any other.
std::optional<Target> TargetOf(const std::wstring& url) {
  const auto address = ParseWebAddress(win32::Narrow(url));
  if (!address || (address->scheme != "http" && address->scheme != "https")) {
    return std::nullopt;
  }
  Target target;
  target.host = win32::Widen(address->host);
  target.port = address->PortOrDefault();
  target.secure = address->Secure();
  // The fragment stays with the client.
  const std::string object = address->rest.substr(0, address->rest.find('#'));
  target.object = win32::Widen(object.starts_with('/') ? object : "/" + object);
  target.user = win32::Widen(address->user);
  if (address->password) {
    target.password = win32::Widen(*address->password);
  }
  return target;
}

// The user and password that a proxy asks for, when its address names them.
struct ProxyCredentials {
  std::wstring user;
  std::wstring password;
};

// `relative` read against `base`, as a redirect's Location is.
std::optional<std::wstring> Combined(const std::wstring& base, const std::wstring& relative) {
  std::wstring combined(INTERNET_MAX_URL_LENGTH, L'\0');
  auto length = static_cast<DWORD>(combined.size());
  if (!::InternetCombineUrlW(base.c_str(), relative.c_str(), combined.data(), &length, 0)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return std::nullopt;
    }
    // The size needed, counted in characters or bytes: enough either way.
    combined.resize(length + 1);
    length = static_cast<DWORD>(combined.size());
    if (!::InternetCombineUrlW(base.c_str(), relative.c_str(), combined.data(), &length, 0)) {
      return std::nullopt;
    }
  }
  combined.resize(length);
  return combined;
}

// A header of the answer as text; nothing when the answer has none.
std::optional<std::wstring> HeaderText(HINTERNET request, DWORD query) {
  DWORD size = 0;
  if (::HttpQueryInfoW(request, query, nullptr, &size, nullptr) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (!::HttpQueryInfoW(request, query, text.data(), &size, nullptr)) {
    return std::nullopt;
  }
  text.resize(size / sizeof(wchar_t));
  return text;
}

ResponseHead HeadOf(HINTERNET request) {
  DWORD code = 0;
  DWORD size = sizeof(code);
  ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr);
  const auto text = [request](DWORD query) {
    return win32::Narrow(HeaderText(request, query).value_or(L""));
  };
  ResponseHead head;
  head.code = static_cast<int>(code);
  head.text = text(HTTP_QUERY_STATUS_TEXT);
  head.retry_after = RetryAfterSeconds(text(HTTP_QUERY_RETRY_AFTER));
  head.content_length = HttpDigits(text(HTTP_QUERY_CONTENT_LENGTH));
  head.content_range = text(HTTP_QUERY_CONTENT_RANGE);
  head.etag = text(HTTP_QUERY_ETAG);
  head.last_modified = text(HTTP_QUERY_LAST_MODIFIED);
  return head;
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void SetTimeout(HINTERNET handle, DWORD option, std::chrono::milliseconds timeout) {
  auto milliseconds =
      static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(timeout.count(), MAXDWORD));
  ::InternetSetOptionW(handle, option, &milliseconds, sizeof(milliseconds));
}

void SetText(HINTERNET handle, DWORD option, const std::wstring& text) {
  ::InternetSetOptionW(handle, option, const_cast<wchar_t*>(text.c_str()),
                       static_cast<DWORD>(text.size()));
}

// One request: its connection, its handle and the signals its callback sets.
class Request {
 public:
  Request(HINTERNET session, const Target& target,
          const std::optional<ProxyCredentials>& proxy_credentials, const TransferWatch& watch)
      : signals_(std::make_shared<RequestSignals>()),
        // WinINet answers the server's challenge with the user and password of the address,
        // which it never reads from the address itself.
        connection_(::InternetConnectW(session, target.host.c_str(), target.port,
                                       target.user.empty() ? nullptr : target.user.c_str(),
                                       target.password ? target.password->c_str() : nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0)) {
    if (!signals_->completed.valid() || !connection_) {
      throw FailureOf(watch, ::GetLastError());
    }
    auto share = std::make_unique<SignalsShare>(signals_);
    request_.reset(::HttpOpenRequestW(connection_.get(), L"GET", target.object.c_str(), nullptr,
                                      nullptr, nullptr,
                                      kRequestFlags | (target.secure ? INTERNET_FLAG_SECURE : 0),
                                      reinterpret_cast<DWORD_PTR>(share.get())));
    if (!request_) {
      throw FailureOf(watch, ::GetLastError());
    }
    // The callback owns its share from here on, until it hears of the handle's closing.
    share.release();
    if (proxy_credentials) {
      SetText(Handle(), INTERNET_OPTION_PROXY_USERNAME, proxy_credentials->user);
      SetText(Handle(), INTERNET_OPTION_PROXY_PASSWORD, proxy_credentials->password);
    }
    SetTimeout(Handle(), INTERNET_OPTION_CONNECT_TIMEOUT, watch.Timeouts().connect);
    // A server silent for two idle times has certainly let a whole stretch pass without
    // the minimum: WinINet's own limit stops a wait that the rate check cannot see.
    SetTimeout(Handle(), INTERNET_OPTION_RECEIVE_TIMEOUT, 2 * watch.Timeouts().idle);
    SetTimeout(Handle(), INTERNET_OPTION_SEND_TIMEOUT, 2 * watch.Timeouts().idle);
  }

  HINTERNET Handle() const { return request_.get(); }
  RequestSignals& Signals() const { return *signals_; }

 private:
  SignalsShare signals_;
  UniqueInternet connection_;
  UniqueInternet request_;  // closed before its connection
};

class WinInetTransfer final : public InternetTransferBase {
 public:
  WinInetTransfer(Ui& ui, const Clock& clock, TransferTimeouts timeouts, const std::string& proxy)
      : InternetTransferBase(ui, clock, timeouts) {
    // WinINet carries transfers through http proxies only.
    const auto address = ProxyAddress(proxy, {"http"});
    if (address && !address->user.empty()) {
      proxy_credentials_ = ProxyCredentials{win32::Widen(address->user),
                                            win32::Widen(address->password.value_or(""))};
    }
    session_ = OpenSession(proxy.empty(), address);
  }

 private:
  // With no setting the user's own Internet settings, else the proxy the setting names,
  // or none at all.
  static UniqueInternet OpenSession(bool system_settings, const std::optional<WebAddress>& proxy) {
    const DWORD access = system_settings ? INTERNET_OPEN_TYPE_PRECONFIG
                         : proxy         ? INTERNET_OPEN_TYPE_PROXY
                                         : INTERNET_OPEN_TYPE_DIRECT;
    // WinINet takes the proxy's host and port alone; its user and password go with each
    // request.
    std::wstring address;
    if (proxy) {
      // Appended piece by piece: GCC 12 warns falsely on "literal" + temporary here.
      const bool v6 = proxy->host.find(':') != std::string::npos;
      std::string text = v6 ? "http://[" : "http://";
      text.append(proxy->host).append(v6 ? "]" : "");
      if (proxy->port) {
        text.append(":").append(std::to_string(*proxy->port));
      }
      address = win32::Widen(text);
    }
    UniqueInternet session(::InternetOpenW(kAgent, access, proxy ? address.c_str() : nullptr,
                                           proxy ? kBypassNothing : nullptr, INTERNET_FLAG_ASYNC));
    if (!session || ::InternetSetStatusCallbackW(session.get(), &OnStatus) ==
                        INTERNET_INVALID_STATUS_CALLBACK) {
      throw Error(
          error_number::kTransferFailed,
          "Não foi possível iniciar o cliente HTTP (" + InternetErrorText(::GetLastError()) + ")",
          kTransferSource);
    }
    return session;
  }

  ResponseHead Fetch(TransferWatch& watch, bool fail_on_http_error) override {
    // Redirects are followed here rather than by WinINet, which would follow them to any
    // scheme and without end.
    std::wstring url = win32::Widen(watch.Url());
    for (int redirects = 0;; ++redirects) {
      const auto target = TargetOf(url);
      if (!target) {
        const std::string only_web = "só endereços http e https são aceitos";
        throw watch.Failure(redirects == 0
                                ? only_web
                                : "redirecionado para " + ShownAddress(win32::Narrow(url)) + "; " +
                                      only_web);
      }
      const Request request(session_.get(), *target, proxy_credentials_, watch);
      std::wstring headers;
      for (const std::string& line : watch.RequestHeaders()) {
        headers += win32::Widen(line) + L"\r\n";
      }
      Perform(watch, request, [&request, &headers] {
        return ::HttpSendRequestW(request.Handle(), headers.empty() ? nullptr : headers.c_str(),
                                  static_cast<DWORD>(headers.size()), nullptr, 0);
      });
      ResponseHead status = HeadOf(request.Handle());
      if (const auto location = HeaderText(request.Handle(), HTTP_QUERY_LOCATION);
          location && IsRedirect(status.code)) {
        if (redirects == kMaxRedirects) {
          throw watch.Failure("mais de " + std::to_string(kMaxRedirects) + " redirecionamentos");
        }
        url = Combined(url, *location).value_or(*location);
        if (const auto refusal = RedirectRefusal(watch.Url(), win32::Narrow(url))) {
          throw watch.Failure(*refusal);
        }
        continue;
      }
      if (fail_on_http_error && status.code >= 400) {
        // The server's own words for the refusal; its error page is not the body asked for.
        throw watch.Refused(status);
      }
      watch.Begin(status);
      ReadBody(watch, request);
      return status;
    }
  }

  void ReadBody(TransferWatch& watch, const Request& request) {
    RequestSignals& answers = request.Signals();
    for (DWORD available = WaitForData(watch, request); available > 0;
         available = WaitForData(watch, request)) {
      Perform(watch, request, [&] {
        return ::InternetReadFile(request.Handle(), answers.buffer.data(),
                                  std::min(available, static_cast<DWORD>(answers.buffer.size())),
                                  &answers.read);
      });
      watch.Deliver(std::span(answers.buffer.data(), answers.read));
      watch.CheckRate();
      WindowUi().ProcessPendingMessages();
    }
  }

  // How much of the body can be read at once; 0 at its end.
  DWORD WaitForData(TransferWatch& watch, const Request& request) {
    RequestSignals& answers = request.Signals();
    // Once it had to wait for data, asking again answers at once.
    while (!Perform(watch, request, [&] {
      return ::InternetQueryDataAvailable(request.Handle(), &answers.available, 0, 0);
    })) {
    }
    return answers.available;
  }

  // Starts an operation with `start` and waits until it ends; whether it ended at once.
  // Fails the transfer when the operation fails or the server falls below the minimum rate.
  template <typename Start>
  bool Perform(TransferWatch& watch, const Request& request, Start start) {
    RequestSignals& signals = request.Signals();
    ::ResetEvent(signals.completed.get());
    const bool at_once = start() != FALSE;
    DWORD error = at_once ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      error = Wait(watch, signals);
    }
    watch.Reached(static_cast<TransferState>(signals.reached.load()));
    if (error != ERROR_SUCCESS) {
      throw FailureOf(watch, error);
    }
    return at_once;
  }

  // Waits for the operation under way, serving the window between looks.
  DWORD Wait(TransferWatch& watch, RequestSignals& signals) {
    for (;;) {
      const DWORD waited = ::WaitForSingleObject(signals.completed.get(), DWORD{kPollMilliseconds});
      if (waited == WAIT_OBJECT_0) {
        return signals.error;
      }
      if (waited != WAIT_TIMEOUT) {
        return ::GetLastError();
      }
      watch.Reached(static_cast<TransferState>(signals.reached.load()));
      watch.CheckRate();
      WindowUi().ProcessPendingMessages();
    }
  }

  std::optional<ProxyCredentials> proxy_credentials_;
  UniqueInternet session_;
};

}  // namespace

std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui& ui, const Clock& clock,
                                                       TransferTimeouts timeouts,
                                                       std::string proxy) {
  return std::make_unique<WinInetTransfer>(ui, clock, timeouts, proxy);
}

}  // namespace kalo::platform
