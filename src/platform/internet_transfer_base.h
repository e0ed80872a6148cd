// What every realisation of the transfer component shares, whatever HTTP client it
// drives: the text and byte forms over one streaming transfer, the busy flag, the states
// reported in order, and the watch over the length limit and the minimum rate with the
// texts of those failures. Only the realisations include it.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/internet_transfer_interface.h"
#include "platform/web_address.h"

namespace kalo::platform {

inline constexpr const char* kTransferSource = "Inet::OpenURL";
// The redirects one transfer follows before it fails.
inline constexpr int kMaxRedirects = 5;
// How long one wait for the client may block before the window is served again.
inline constexpr int kPollMilliseconds = 50;

// The status a transfer ended with.
struct HttpStatus {
  int code = 0;
  std::string text;                                 // the reason phrase; may be empty
  std::optional<std::chrono::seconds> retry_after;  // the server's Retry-After, in seconds
};

// The seconds of a Retry-After value; nothing for its date form or anything else.
std::optional<std::chrono::seconds> RetryAfterSeconds(std::string_view value);

// One transfer as a realisation drives it: the realisation tells which states its client
// reached and hands the body over as it arrives; the watch reports the states on the
// caller's thread, keeps the limits and words the failures.
class TransferWatch {
 public:
  TransferWatch(const std::string& url, const InternetTransfer::ByteSink& sink,
                std::optional<std::uint64_t> max_bytes, const Clock& clock,
                const TransferTimeouts& timeouts, const InternetTransfer::StateHandler& handler,
                const InternetTransfer::ProgressHandler& progress);

  const std::string& Url() const { return url_; }
  const TransferTimeouts& Timeouts() const { return timeouts_; }
  TransferState State() const { return state_; }

  // Reports every state after the current one up to `target` (at most kClosed), in order,
  // so that a phase the client went through too fast to be seen is still shown.
  void Reached(TransferState target);
  // Reports `state` itself: the failure, or the completion after kClosed.
  void Report(TransferState state);

  // Counts bytes that arrived, headers too, toward the minimum rate.
  void Count(std::uint64_t bytes);
  // How much of the body reached the sink so far.
  std::uint64_t BodyBytes() const { return body_bytes_; }
  // The whole body's length, when the server announced it.
  std::optional<std::uint64_t> Announced() const { return announced_; }
  // Takes the length the server announces for the body, and fails when it is longer than
  // the caller allows; called before any of the body goes to the sink.
  void CheckAnnounced(std::optional<std::uint64_t> length);
  // Hands body bytes to the sink, or fails without writing them when they take the body
  // past its limit. What the sink throws passes through.
  void Deliver(std::span<const std::byte> bytes);
  // Where the transfer stands, in `phase`.
  TransferProgress Progress(TransferPhase phase) const;
  // Fails when, once connected, a whole stretch of the idle time brought less than the
  // minimum.
  void CheckRate();

  // The failures of this transfer, with `reason` after its address: one that trying
  // again will not mend, a connection that failed or dropped, and a time-out.
  TransferError Failure(const std::string& reason) const;
  TransferError Dropped(const std::string& reason) const;
  TransferError TimedOut(const std::string& reason) const;
  // The time-out of a transfer below the minimum rate.
  TransferError Stalled() const;
  // The server refused the request with `status`; some statuses may pass.
  TransferError Refused(const HttpStatus& status) const;

 private:
  const std::string& url_;
  const InternetTransfer::ByteSink& sink_;
  std::optional<std::uint64_t> max_bytes_;
  const Clock& clock_;
  const TransferTimeouts& timeouts_;
  const InternetTransfer::StateHandler& handler_;
  const InternetTransfer::ProgressHandler& progress_;
  TransferState state_ = TransferState::kNone;
  std::uint64_t body_bytes_ = 0;
  std::optional<std::uint64_t> announced_;
  // The stretch of time now measured against the minimum rate, and what came in it.
  Clock::TimePoint window_start_;
  std::uint64_t window_bytes_ = 0;
};

// "60 s" or "300 ms".
std::string DurationText(std::chrono::milliseconds duration);

// The proxy that a proxy setting names (kDirectConnection tells the settings); nothing for
// the settings that name none. Throws when the setting is no proxy's address, or names a
// scheme other than those of `schemes` (no scheme means "http").
std::optional<WebAddress> ProxyAddress(const std::string& setting,
                                       std::initializer_list<std::string_view> schemes);

// Why a redirect from `from` to `to` is not followed: a transfer started over https never
// goes on in clear text. Nothing when it may be followed.
std::optional<std::string> RedirectRefusal(const std::string& from, const std::string& to);

class InternetTransferBase : public InternetTransfer {
 public:
  TextReply OpenUrlText(const std::string& url) final;
  // The default of `max_bytes` is the interface's; an override repeating it could drift.
  void OpenUrlBytes(const std::string& url, const ByteSink& sink,
                    std::optional<std::uint64_t> max_bytes) final;
  bool StillExecuting() const final { return executing_; }
  std::string ReportedText() const final { return ShownAddress(url_); }
  void SetStateHandler(StateHandler handler) final { handler_ = std::move(handler); }
  void SetProgressHandler(ProgressHandler handler) final { progress_ = std::move(handler); }
  void SetOutcomeHandler(OutcomeHandler handler) final { outcome_ = std::move(handler); }

 protected:
  InternetTransferBase(const Clock& clock, TransferTimeouts timeouts)
      : clock_(clock), timeouts_(timeouts) {}

  // Runs one transfer of `watch.Url()` to the end of its body, which goes through
  // `watch`, and answers the status it ended with. With `fail_on_http_error` a status of
  // 400 or more fails it. Throws when the transfer fails.
  virtual HttpStatus Fetch(TransferWatch& watch, bool fail_on_http_error) = 0;

 private:
  HttpStatus Run(const std::string& url, bool fail_on_http_error, const ByteSink& sink,
                 std::optional<std::uint64_t> max_bytes);

  const Clock& clock_;
  TransferTimeouts timeouts_;
  StateHandler handler_;
  ProgressHandler progress_;
  OutcomeHandler outcome_;
  std::string url_;
  bool executing_ = false;
};

}  // namespace kalo::platform
