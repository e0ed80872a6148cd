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
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/internet_transfer_interface.h"
#include "platform/ui.h"
#include "platform/web_address.h"

namespace kalo::platform {

inline constexpr const char* kTransferSource = "Inet::OpenURL";
// The redirects one transfer follows before it fails.
inline constexpr int kMaxRedirects = 5;
// How long one wait for the client may block before the window is served again.
inline constexpr int kPollMilliseconds = 50;

// What the head of the answer a transfer ended with says.
struct ResponseHead {
  int code = 0;
  std::string text;                                 // the reason phrase; may be empty
  std::optional<std::chrono::seconds> retry_after;  // the server's Retry-After, in seconds
  std::optional<std::uint64_t> content_length;
  std::string content_range;  // "bytes 100-199/200" for a part of the body
  std::string etag;
  std::string last_modified;
};

// The number that a text of digits alone writes, as HTTP writes lengths and positions.
std::optional<std::uint64_t> HttpDigits(std::string_view text);

// The seconds of a Retry-After value; nothing for its date form or anything else.
std::optional<std::chrono::seconds> RetryAfterSeconds(std::string_view value);

// One attempt at a transfer as a realisation drives it: the realisation tells which
// states its client reached, hands over the head of the answer and then the body as it
// arrives; the watch reports the states on the caller's thread, keeps the limits, decides
// whether a part sent for a resumed transfer continues the body held, and words the
// failures.
class TransferWatch {
 public:
  TransferWatch(const std::string& url, const ByteSink& sink,
                std::optional<std::uint64_t> max_bytes, const Clock& clock,
                const TransferTimeouts& timeouts, const InternetTransfer::StateHandler& handler,
                const InternetTransfer::ProgressHandler& progress, const ResumePoint& resume);

  const std::string& Url() const { return url_; }
  const TransferTimeouts& Timeouts() const { return timeouts_; }
  TransferState State() const { return state_; }

  // Reports every state after the current one up to `target` (at most kClosed), in order,
  // so that a phase the client went through too fast to be seen is still shown.
  void Reached(TransferState target);
  // Reports `state` itself: the failure, or the completion after kClosed.
  void Report(TransferState state);

  // The request's header lines that ask for the rest of a body held in part ("Range: …",
  // "If-Range: …"); none when the transfer starts from the first byte.
  std::vector<std::string> RequestHeaders() const;
  // Takes the head of the answer before any of its body: a part that continues the body
  // held is appended, a whole body replaces what was held, and anything else fails the
  // attempt so the next one starts from the first byte. Fails as well when the server
  // announces a longer body than the caller allows. Called once per attempt.
  void Begin(const ResponseHead& head);
  bool Begun() const { return begun_; }

  // Counts bytes that arrived, headers too, toward the minimum rate.
  void Count(std::uint64_t bytes);
  // How much of the body is held, what earlier attempts brought included.
  std::uint64_t BodyBytes() const { return body_bytes_; }
  // How much of the body came in this attempt.
  std::uint64_t ReceivedBytes() const { return received_; }
  // Hands body bytes to the sink, or fails without writing them when they take the body
  // past its limit. What the sink throws passes through.
  void Deliver(std::span<const std::byte> bytes);
  // Fails, as a connection that dropped, when the body ended before the length announced.
  void CheckComplete() const;
  // Fails when, once connected, a whole stretch of the idle time brought less than the
  // minimum.
  void CheckRate();
  // Where the transfer stands, in `phase`.
  TransferProgress Progress(TransferPhase phase) const;
  // Where a next attempt may continue after this one failed; from the first byte when the
  // server gave nothing that tells the same body again.
  ResumePoint ResumeAfter() const;

  // The failures of this transfer, with `reason` after its address: one that trying
  // again will not mend, a connection that failed or dropped, and a time-out.
  TransferError Failure(const std::string& reason) const;
  TransferError Dropped(const std::string& reason) const;
  TransferError TimedOut(const std::string& reason) const;
  // The time-out of a transfer below the minimum rate.
  TransferError Stalled() const;
  // The server refused the request with `status`; some statuses may pass.
  TransferError Refused(const ResponseHead& status) const;

 private:
  // Fails the attempt so that the next one starts from the first byte.
  [[noreturn]] void RestartFromFirstByte(const std::string& reason);

  const std::string& url_;
  const ByteSink& sink_;
  std::optional<std::uint64_t> max_bytes_;
  const Clock& clock_;
  const TransferTimeouts& timeouts_;
  const InternetTransfer::StateHandler& handler_;
  const InternetTransfer::ProgressHandler& progress_;
  const ResumePoint resume_;
  TransferState state_ = TransferState::kNone;
  bool begun_ = false;
  bool restart_ = false;
  std::uint64_t body_bytes_ = 0;
  std::uint64_t received_ = 0;
  std::optional<std::uint64_t> total_;
  std::string validator_;
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
                    std::optional<std::uint64_t> max_bytes, const ResumePoint& from) final;
  bool StillExecuting() const final { return executing_; }
  std::string ReportedText() const final { return ShownAddress(url_); }
  void SetStateHandler(StateHandler handler) final { handler_ = std::move(handler); }
  void SetProgressHandler(ProgressHandler handler) final { progress_ = std::move(handler); }
  void SetOutcomeHandler(OutcomeHandler handler) final { outcome_ = std::move(handler); }

 protected:
  InternetTransferBase(Ui& ui, const Clock& clock, TransferTimeouts timeouts)
      : ui_(ui), clock_(clock), timeouts_(timeouts) {}

  Ui& WindowUi() const { return ui_; }

  // Runs one attempt at `watch.Url()` to the end of its body: hands the head of the
  // answer to `watch.Begin` and the body through `watch`, and answers the head. With
  // `fail_on_http_error` a status of 400 or more fails it. Sends the header lines of
  // `watch.RequestHeaders()`. Throws when the attempt fails.
  virtual ResponseHead Fetch(TransferWatch& watch, bool fail_on_http_error) = 0;

 private:
  // The attempts at one call; `resumable` lets an attempt continue the body held.
  ResponseHead Run(const std::string& url, bool fail_on_http_error, bool resumable,
                   const ByteSink& sink, std::optional<std::uint64_t> max_bytes,
                   const ResumePoint& from);

  Ui& ui_;
  const Clock& clock_;
  TransferTimeouts timeouts_;
  StateHandler handler_;
  ProgressHandler progress_;
  OutcomeHandler outcome_;
  std::string url_;
  bool executing_ = false;
};

}  // namespace kalo::platform
