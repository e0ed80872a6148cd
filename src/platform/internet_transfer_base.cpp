#include "platform/internet_transfer_base.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <utility>

#include "platform/caught_error.h"
#include "platform/plain_text.h"
#include "platform/transfer_retry.h"
#include "platform/waiting.h"

namespace kalo::platform {
namespace {

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

// What "bytes 100-199/200" says: the first byte sent and the whole body's length.
struct ContentRange {
  std::uint64_t first = 0;
  std::optional<std::uint64_t> total;
};

std::optional<ContentRange> ContentRangeOf(std::string_view value) {
  value = Trimmed(value, " \t");
  constexpr std::string_view kUnit = "bytes ";
  const auto dash = value.find('-');
  const auto slash = value.find('/');
  if (!value.starts_with(kUnit) || dash == std::string_view::npos ||
      slash == std::string_view::npos || dash > slash) {
    return std::nullopt;
  }
  const auto first = HttpDigits(value.substr(kUnit.size(), dash - kUnit.size()));
  const auto last = HttpDigits(value.substr(dash + 1, slash - dash - 1));
  const auto total = HttpDigits(value.substr(slash + 1));
  if (!first || !last || *last < *first || (total && *last >= *total)) {
    return std::nullopt;
  }
  return ContentRange{*first, total};
}

// Holds the busy flag up for as long as it lives.
class BusyFlag {
 public:
  explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;
  ~BusyFlag() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

std::optional<std::uint64_t> HttpDigits(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::chrono::seconds> RetryAfterSeconds(std::string_view value) {
  value = Trimmed(value, " \t\r\n");
  // Five digits at most: any longer wait ends the attempts just the same.
  const auto seconds = value.size() <= 5 ? HttpDigits(value) : std::nullopt;
  if (!seconds) {
    return std::nullopt;
  }
  return std::chrono::seconds(static_cast<std::chrono::seconds::rep>(*seconds));
}

std::string DurationText(std::chrono::milliseconds duration) {
  return duration.count() % 1000 == 0 ? std::to_string(duration.count() / 1000) + " s"
                                      : std::to_string(duration.count()) + " ms";
}

std::optional<WebAddress> ProxyAddress(const std::string& setting,
                                       std::initializer_list<std::string_view> schemes) {
  if (setting.empty() || setting == kDirectConnection) {
    return std::nullopt;
  }
  auto address = ParseWebAddress(setting);
  if (!address ||
      std::ranges::find(schemes, address->scheme.empty() ? "http" : address->scheme) ==
          schemes.end() ||
      !(address->rest.empty() || address->rest == "/")) {
    throw Error(error_number::kTransferFailed,
                "A configuração proxy \"" + ShownAddress(setting) +
                    "\" não é o endereço de um proxy (http://servidor:porta)",
                kTransferSource);
  }
  return address;
}

std::optional<std::string> RedirectRefusal(const std::string& from, const std::string& to) {
  const auto origin = ParseWebAddress(from);
  const auto target = ParseWebAddress(to);
  if (origin && origin->Secure() && !(target && target->Secure())) {
    return "o servidor redirecionou a transferência de https para " + ShownAddress(to) +
           ", sem criptografia, o que é recusado";
  }
  return std::nullopt;
}

TransferWatch::TransferWatch(const std::string& url, const ByteSink& sink,
                             std::optional<std::uint64_t> max_bytes, const Clock& clock,
                             const TransferTimeouts& timeouts,
                             const InternetTransfer::StateHandler& handler,
                             const InternetTransfer::ProgressHandler& progress,
                             const ResumePoint& resume)
    : url_(url),
      sink_(sink),
      max_bytes_(max_bytes),
      clock_(clock),
      timeouts_(timeouts),
      handler_(handler),
      progress_(progress),
      resume_(resume),
      body_bytes_(resume.offset),
      total_(resume.total),
      validator_(resume.validator),
      window_start_(clock.Now()) {}

void TransferWatch::Reached(TransferState target) {
  const TransferState before = state_;
  while (state_ < target && state_ < TransferState::kClosed) {
    Report(static_cast<TransferState>(static_cast<int>(state_) + 1));
  }
  // The minimum rate holds from the connection on: a slow name lookup is no stall.
  if (before < TransferState::kConnected && state_ >= TransferState::kConnected) {
    window_start_ = clock_.Now();
    window_bytes_ = 0;
  }
}

void TransferWatch::Report(TransferState state) {
  state_ = state;
  if (handler_) {
    handler_(state);
  }
}

std::vector<std::string> TransferWatch::RequestHeaders() const {
  if (resume_.offset == 0) {
    return {};
  }
  // If-Range makes a server whose file changed send the new one whole instead of a part.
  return {"Range: bytes=" + std::to_string(resume_.offset) + "-", "If-Range: " + resume_.validator};
}

void TransferWatch::Begin(const ResponseHead& head) {
  begun_ = true;
  // A weak ETag may stay the same while bytes change, so it cannot join parts.
  const std::string validator =
      !head.etag.empty() && !head.etag.starts_with("W/") ? head.etag : head.last_modified;
  if (resume_.offset > 0 && head.code == 206) {
    const auto range = ContentRangeOf(head.content_range);
    if (!range || range->first != resume_.offset || range->total != resume_.total) {
      RestartFromFirstByte(
          "o servidor mandou outra parte do arquivo (Content-Range: " + head.content_range + ")");
    }
    if (!validator.empty() && validator != resume_.validator) {
      RestartFromFirstByte("o arquivo mudou no servidor durante a transferência");
    }
  } else if (head.code == 206) {
    throw Failure("o servidor mandou só uma parte do arquivo, que não foi pedida");
  } else {
    // The whole body again: the server ignored the range, or the file changed.
    if (body_bytes_ > 0) {
      sink_.restart();
      body_bytes_ = 0;
    }
    total_ = head.content_length;
  }
  validator_ = validator;
  if (max_bytes_ && total_ && *total_ > *max_bytes_) {
    throw Failure("o servidor anuncia " + std::to_string(*total_) + " bytes, mais que os " +
                  std::to_string(*max_bytes_) + " esperados");
  }
  if (sink_.identified) {
    sink_.identified({body_bytes_, validator_, total_});
  }
}

void TransferWatch::RestartFromFirstByte(const std::string& reason) {
  restart_ = true;
  throw Dropped(reason);
}

void TransferWatch::Count(std::uint64_t bytes) {
  window_bytes_ += bytes;
}

void TransferWatch::Deliver(std::span<const std::byte> bytes) {
  Count(bytes.size());
  if (max_bytes_ && bytes.size() > *max_bytes_ - body_bytes_) {
    throw Failure("a resposta passa dos " + std::to_string(*max_bytes_) + " bytes esperados");
  }
  body_bytes_ += bytes.size();
  received_ += bytes.size();
  sink_.append(bytes);
  if (progress_) {
    progress_(Progress(TransferPhase::kReceiving));
  }
}

void TransferWatch::CheckComplete() const {
  if (total_ && body_bytes_ < *total_) {
    throw Dropped("a conexão terminou com " + std::to_string(body_bytes_) + " dos " +
                  std::to_string(*total_) + " bytes anunciados");
  }
}

TransferProgress TransferWatch::Progress(TransferPhase phase) const {
  TransferProgress progress;
  progress.phase = phase;
  progress.bytes = body_bytes_;
  progress.total = total_;
  return progress;
}

ResumePoint TransferWatch::ResumeAfter() const {
  // Only a body whose length and validator are known can be continued safely.
  if (restart_ || body_bytes_ == 0 || validator_.empty() || !total_) {
    return {};
  }
  return {body_bytes_, validator_, total_};
}

void TransferWatch::CheckRate() {
  if (state_ < TransferState::kConnected) {
    return;
  }
  const Clock::TimePoint now = clock_.Now();
  if (now - window_start_ < timeouts_.idle) {
    return;
  }
  if (window_bytes_ < timeouts_.min_bytes) {
    throw Stalled();
  }
  window_start_ = now;
  window_bytes_ = 0;
}

TransferError TransferWatch::Failure(const std::string& reason) const {
  return {error_number::kTransferFailed, url_, reason, kTransferSource, Transience::kLasting};
}

TransferError TransferWatch::Dropped(const std::string& reason) const {
  return {error_number::kTransferFailed, url_, reason, kTransferSource, Transience::kTransient};
}

TransferError TransferWatch::TimedOut(const std::string& reason) const {
  return {error_number::kTransferTimedOut, url_, reason, kTransferSource, Transience::kTransient};
}

TransferError TransferWatch::Refused(const ResponseHead& status) const {
  return {error_number::kTransferFailed,
          url_,
          HttpStatusText(status.code, status.text),
          kTransferSource,
          IsTransientHttpStatus(status.code) ? Transience::kTransient : Transience::kLasting,
          status.code,
          status.retry_after};
}

TransferError TransferWatch::Stalled() const {
  return TimedOut("a transferência parou: menos de " + SizeText(timeouts_.min_bytes) + " em " +
                  DurationText(timeouts_.idle));
}

TextReply InternetTransferBase::OpenUrlText(const std::string& url) {
  TextReply reply;
  const ByteSink append{[&reply, &url](std::span<const std::byte> bytes) {
                          if (bytes.size() > kMaxTextBytes - reply.body.size()) {
                            throw Error(error_number::kTransferFailed,
                                        "A resposta de " + ShownAddress(url) + " passa de " +
                                            std::to_string(kMaxTextBytes / (1024 * 1024)) + " MiB",
                                        kTransferSource);
                          }
                          reply.body.append(reinterpret_cast<const char*>(bytes.data()),
                                            bytes.size());
                        },
                        [&reply] { reply.body.clear(); }};
  ResponseHead head = Run(url, false, false, append, std::nullopt, {});
  reply.status = head.code;
  reply.status_text = std::move(head.text);
  return reply;
}

void InternetTransferBase::OpenUrlBytes(const std::string& url, const ByteSink& sink,
                                        std::optional<std::uint64_t> max_bytes,
                                        const ResumePoint& from) {
  Run(url, true, true, sink, max_bytes, from);
}

ResponseHead InternetTransferBase::Run(const std::string& url, bool fail_on_http_error,
                                       bool resumable, const ByteSink& sink,
                                       std::optional<std::uint64_t> max_bytes,
                                       const ResumePoint& from) {
  url_ = url;
  const Clock::TimePoint start = clock_.Now();
  TransferOutcome outcome;
  outcome.url = ShownAddress(url_);
  // The last states are reported while the transfer still counts as executing, as they
  // belong to it; so are the waits between attempts.
  const BusyFlag busy(executing_);
  RetrySchedule schedule(timeouts_.attempts, timeouts_.busy_attempts, timeouts_.spread_waits);
  // A body held without what identifies it cannot be continued.
  ResumePoint resume =
      from.offset > 0 && !from.validator.empty() && from.total ? from : ResumePoint{};
  if (from.offset > 0 && resume.offset == 0) {
    sink.restart();
  }
  for (;;) {
    TransferWatch watch(url_, sink, max_bytes, clock_, timeouts_, handler_, progress_, resume);
    ++outcome.attempts;
    outcome.resumed_from = resume.offset;
    // Says how the call ended to whoever listens.
    const auto tell = [&](TransferPhase phase) {
      outcome.bytes = watch.BodyBytes();
      outcome.bytes_received += watch.ReceivedBytes();
      outcome.duration =
          std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - start);
      if (progress_) {
        progress_(watch.Progress(phase));
      }
      if (outcome_) {
        outcome_(outcome);
      }
    };
    std::optional<std::chrono::milliseconds> wait;
    std::string reason;
    try {
      watch.Reached(TransferState::kResolving);
      // A line break would end the request line early and start a header of its own.
      if (HasControlCharacters(url)) {
        throw watch.Failure("o endereço tem caracteres de controle");
      }
      ResponseHead head = Fetch(watch, fail_on_http_error);
      if (!watch.Begun()) {
        watch.Begin(head);
      }
      watch.CheckComplete();
      // The text form hands any status over, but asks a busy server again first.
      if (!fail_on_http_error && IsTransientHttpStatus(head.code)) {
        wait = schedule.Next({true, false, head.retry_after, IsBusyHttpStatus(head.code)});
        reason = HttpStatusText(head.code, head.text);
      }
      if (!wait) {
        outcome.http_status = head.code;
        watch.Reached(TransferState::kClosed);
        watch.Report(TransferState::kCompleted);
        tell(TransferPhase::kFinished);
        return head;
      }
      sink.restart();
    } catch (const TransferError& failure) {
      outcome.http_status = failure.HttpStatusCode().value_or(0);
      // A server that cannot send the part asked for is asked for the whole body.
      const bool unsatisfiable = failure.HttpStatusCode() == 416 && resume.offset > 0;
      const ResumePoint next = resumable && !unsatisfiable ? watch.ResumeAfter() : ResumePoint{};
      if (failure.Transient() || unsatisfiable) {
        wait = schedule.Next({true, next.offset > resume.offset, failure.RetryAfter(),
                              IsBusyHttpStatus(failure.HttpStatusCode().value_or(0))});
      }
      if (!wait) {
        outcome.failure = failure.Reason();
        watch.Report(TransferState::kError);
        tell(TransferPhase::kFailed);
        throw;
      }
      reason = failure.Reason();
      if (next.offset == 0 && watch.BodyBytes() > 0) {
        sink.restart();
      }
      resume = next;
    } catch (...) {
      outcome.failure = ErrorFromException(std::current_exception(), kTransferSource).Description();
      watch.Report(TransferState::kError);
      tell(TransferPhase::kFailed);
      throw;
    }
    // The attempt failed in a way that may pass: what it brought counts, and the next waits.
    outcome.bytes_received += watch.ReceivedBytes();
    if (progress_) {
      TransferProgress waiting = watch.Progress(TransferPhase::kWaitingToRetry);
      waiting.bytes = resume.offset;
      waiting.next_attempt = schedule.NextAttemptNumber();
      waiting.most_attempts = schedule.MostAttempts();
      waiting.wait = *wait;
      waiting.reason = reason;
      progress_(waiting);
    }
    WaitServingWindow(ui_, clock_, *wait);
  }
}

}  // namespace kalo::platform
