// What the Internet transfer component offers and how it fails: a blocking fetch of a
// URL as text or as bytes that keeps the window alive while it waits, with a busy flag and
// state-change notifications. Callers use it through this interface, so tests can hand in
// fakes; the shared base and each backend build on it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

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
  // Once connected, every stretch of this length must bring at least `min_bytes`, or
  // the transfer counts as stalled: a server that drips a byte now and then cannot hold
  // a run for ever, while a slow but steady transfer is never cut off, however long.
  std::chrono::milliseconds idle{std::chrono::seconds(60)};
  std::uint64_t min_bytes = 1024;
  // Attempts in a row that bring no new byte before a failure that may pass ends the
  // transfer; more when the server answers that it is busy (429 or 503 without
  // Retry-After), as many updaters may be asking at once.
  int attempts = 5;
  int busy_attempts = 10;
  // Each wait between attempts is drawn between half and all of its length, so that
  // updaters turned away together do not all come back together.
  bool spread_waits = true;
};

// The proxy setting that sends every transfer straight to the server, whatever the
// system's proxy settings say. An empty setting follows the system's settings (on
// POSIX the environment's http_proxy, https_proxy, all_proxy and no_proxy, as curl
// reads them); any other is the address of an http proxy that carries every transfer,
// "[http://][user:password@]host[:port]"; any other text is refused.
inline constexpr std::string_view kDirectConnection = "direct";

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

// Whether the same transfer tried again may succeed: a dropped, refused or reset
// connection, a failed name lookup, a stall or a busy server may pass; a refused
// certificate, a missing file or a body too long will not.
enum class Transience { kLasting, kTransient };

// A failed transfer, with its parts: the address, the HTTP status when the server refused,
// why, and whether it may pass. Its description says what failed, then why; a caller that
// shows the address elsewhere reads the reason alone.
class TransferError : public Error {
 public:
  TransferError(int number, std::string url, std::string reason, std::string source,
                Transience transience, std::optional<int> http_status = std::nullopt,
                std::optional<std::chrono::seconds> retry_after = std::nullopt);

  const std::string& Url() const { return url_; }
  const std::string& Reason() const { return reason_; }
  std::optional<int> HttpStatusCode() const { return http_status_; }
  bool Transient() const { return transience_ == Transience::kTransient; }
  // How long the server asked to wait before asking again (Retry-After in seconds).
  std::optional<std::chrono::seconds> RetryAfter() const { return retry_after_; }

 private:
  std::string url_;
  std::string reason_;
  Transience transience_;
  std::optional<int> http_status_;
  std::optional<std::chrono::seconds> retry_after_;
};

// Where a transfer stands, for a progress display.
enum class TransferPhase {
  kReceiving,       // bytes of the body are arriving
  kWaitingToRetry,  // an attempt failed in a way that may pass; the next one waits
  kFailed,          // the transfer ended with a failure
  kFinished,        // the whole body arrived
};

struct TransferProgress {
  TransferPhase phase = TransferPhase::kReceiving;
  std::uint64_t bytes = 0;             // body bytes held so far, those resumed from included
  std::optional<std::uint64_t> total;  // the whole body's length, when the server said it
  // While waiting to retry: the number of the next attempt (2 after the first failure)
  // of the most there may be, the wait before it, and why the last attempt failed.
  int next_attempt = 0;
  int most_attempts = 0;
  std::chrono::milliseconds wait{0};
  std::string reason;
};

// What one call of the text or byte form came to, over all its attempts, for the run's log.
struct TransferOutcome {
  std::string url;                   // as shown: any password masked
  int http_status = 0;               // of the last answer; 0 when none came
  std::uint64_t bytes = 0;           // body bytes held at the end
  std::uint64_t bytes_received = 0;  // body bytes that came over the wire, all attempts
  std::chrono::milliseconds duration{0};
  int attempts = 0;
  std::uint64_t resumed_from = 0;      // where the last attempt continued; 0 from the start
  std::optional<std::string> failure;  // why it failed; nothing when it succeeded
};

// Where a byte transfer cut off continues: the body bytes already held, and what tells
// the body they came from (the strong ETag, else Last-Modified, and the whole length).
struct ResumePoint {
  std::uint64_t offset = 0;
  std::string validator;
  std::optional<std::uint64_t> total;
};

// Where the byte form's body goes as it arrives.
struct ByteSink {
  std::function<void(std::span<const std::byte>)> append;
  // Drops everything appended so far: the body is coming again from its first byte.
  std::function<void()> restart;
  // When set, told what identifies the body once an answer's head says so, so that a
  // caller can keep what it holds and continue it in another run; may be empty.
  std::function<void(const ResumePoint&)> identified = nullptr;
};

class InternetTransfer {
 public:
  using StateHandler = std::function<void(TransferState)>;
  using ProgressHandler = std::function<void(const TransferProgress&)>;
  using OutcomeHandler = std::function<void(const TransferOutcome&)>;

  virtual ~InternetTransfer() = default;

  // Text form: the whole body and the HTTP status, whatever that is, so that the caller
  // tells an error page from an answer. Throws when the transfer fails, also when the
  // body grows past kMaxTextBytes. A failure that may pass, a busy server's status
  // included, is tried again from the start.
  virtual TextReply OpenUrlText(const std::string& url) = 0;

  // Byte form: streams the body to `sink` as it arrives. An HTTP status of 400 or
  // more is a failed transfer. Throws when the transfer fails, and lets an error
  // thrown by `sink` through after stopping the transfer. A body longer than
  // `max_bytes` fails it too: before any byte reaches `sink` when the server announces
  // the longer length, else as soon as the body grows past it, with nothing more written.
  // A failure that may pass is tried again, continuing from the bytes already in `sink`
  // when the server can send the rest of the same body, else from the first byte after
  // `sink.restart`.
  // `from` continues a body that `sink` already holds in part (as an earlier run left
  // it): the first attempt asks for the rest of that body, and anything else starts it again.
  virtual void OpenUrlBytes(const std::string& url, const ByteSink& sink,
                            std::optional<std::uint64_t> max_bytes = std::nullopt,
                            const ResumePoint& from = {}) = 0;

  // True while a transfer is in progress.
  virtual bool StillExecuting() const = 0;

  // The text shown beside the transfer state: the URL of the request in progress, with
  // any password masked.
  virtual std::string ReportedText() const = 0;

  // Called at every state change, on the caller's thread.
  virtual void SetStateHandler(StateHandler handler) = 0;
  // Called on the caller's thread as bytes arrive, while a retry waits, and at the end.
  virtual void SetProgressHandler(ProgressHandler handler) = 0;
  // Called once at the end of every call of the text or byte form, on the caller's thread.
  virtual void SetOutcomeHandler(OutcomeHandler handler) = 0;
};

}  // namespace kalo::platform
