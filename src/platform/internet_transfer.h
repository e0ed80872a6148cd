// The Internet transfer component: a blocking fetch of a URL as text or as bytes
// that keeps the window alive while it waits, with a busy flag and state-change
// notifications. Callers use it through this interface, so tests can hand in fakes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/clock.h"
#include "platform/ui.h"

namespace kalo::platform {

// The states a transfer goes through, in order; 11 replaces the rest on a failure.
enum class TransferState : int {
  kNone = 0,
  kResolving = 1,
  kResolved = 2,
  kConnecting = 3,
  kConnected = 4,
  kRequesting = 5,
  kRequestSent = 6,
  kReceiving = 7,
  kResponseReceived = 8,
  kClosing = 9,
  kClosed = 10,
  kError = 11,
  kCompleted = 12,
};

struct TransferTimeouts {
  // Longest time to reach the server (name lookup and connection).
  std::chrono::milliseconds connect{std::chrono::seconds(60)};
  // Longest time without a byte coming or going once connected. A slow but steady
  // transfer is never cut off, however long it takes.
  std::chrono::milliseconds idle{std::chrono::seconds(60)};
};

// The longest text body the text form takes: far more than any manifest needs, and
// small enough that a server sending without end cannot exhaust memory.
inline constexpr std::size_t kMaxTextBytes = 16 * 1024 * 1024;

// What the text form received.
struct TextReply {
  int status = 0;           // the HTTP status code
  std::string status_text;  // the reason phrase of the status line ("Not Found"); may be empty
  std::string body;
};

// "HTTP 404 Not Found": a status the way failure texts show it.
inline std::string HttpStatusText(int code, const std::string& reason_phrase) {
  return "HTTP " + std::to_string(code) + (reason_phrase.empty() ? "" : " " + reason_phrase);
}

// The description of a failed transfer: what failed, then why. A caller that shows the
// address elsewhere takes only the reason back out of it.
inline std::string TransferFailureText(const std::string& url, const std::string& reason) {
  return "Falha na transferência de " + url + ": " + reason;
}
inline std::string TransferFailureReason(const std::string& description, const std::string& url) {
  const std::string prefix = TransferFailureText(url, "");
  return description.starts_with(prefix) ? description.substr(prefix.size()) : description;
}

class InternetTransfer {
 public:
  using StateHandler = std::function<void(TransferState)>;
  using ByteSink = std::function<void(std::span<const std::byte>)>;

  virtual ~InternetTransfer() = default;

  // Text form: the whole body and the HTTP status, whatever that is, so that the caller
  // tells an error page from an answer. Throws when the transfer fails, also when the
  // body grows past kMaxTextBytes.
  virtual TextReply OpenUrlText(const std::string& url) = 0;

  // Byte form: streams the body to `sink` as it arrives. An HTTP status of 400 or
  // more is a failed transfer. Throws when the transfer fails, and lets an error
  // thrown by `sink` through after stopping the transfer.
  virtual void OpenUrlBytes(const std::string& url, const ByteSink& sink) = 0;

  // True while a transfer is in progress.
  virtual bool StillExecuting() const = 0;

  // The text shown beside the transfer state: the URL of the request in progress.
  virtual std::string ReportedText() const = 0;

  // Called at every state change, on the caller's thread.
  virtual void SetStateHandler(StateHandler handler) = 0;
};

// The component over the platform's HTTP client. It pumps `ui` while it waits and
// measures its time-outs on `clock`; both must outlive it.
std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui& ui, const Clock& clock,
                                                       TransferTimeouts timeouts = {});

}  // namespace kalo::platform
