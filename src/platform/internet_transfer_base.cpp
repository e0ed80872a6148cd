#include "platform/internet_transfer_base.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/caught_error.h"
#include "platform/plain_text.h"
#include "platform/transfer_retry.h"

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

std::optional<std::chrono::seconds> RetryAfterSeconds(std::string_view value) {
  value = Trimmed(value, " \t\r\n");
  // Five digits at most: any longer wait ends the attempts just the same.
  if (value.empty() || value.size() > 5 ||
      !std::ranges::all_of(value, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::chrono::seconds(std::stoi(std::string(value)));
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

TransferWatch::TransferWatch(const std::string& url, const InternetTransfer::ByteSink& sink,
                             std::optional<std::uint64_t> max_bytes, const Clock& clock,
                             const TransferTimeouts& timeouts,
                             const InternetTransfer::StateHandler& handler,
                             const InternetTransfer::ProgressHandler& progress)
    : url_(url),
      sink_(sink),
      max_bytes_(max_bytes),
      clock_(clock),
      timeouts_(timeouts),
      handler_(handler),
      progress_(progress),
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

void TransferWatch::Count(std::uint64_t bytes) {
  window_bytes_ += bytes;
}

void TransferWatch::CheckAnnounced(std::optional<std::uint64_t> length) {
  announced_ = length;
  if (max_bytes_ && length && *length > *max_bytes_) {
    throw Failure("o servidor anuncia " + std::to_string(*length) + " bytes, mais que os " +
                  std::to_string(*max_bytes_) + " esperados");
  }
}

void TransferWatch::Deliver(std::span<const std::byte> bytes) {
  Count(bytes.size());
  if (max_bytes_ && bytes.size() > *max_bytes_ - body_bytes_) {
    throw Failure("a resposta passa dos " + std::to_string(*max_bytes_) + " bytes esperados");
  }
  body_bytes_ += bytes.size();
  sink_(bytes);
  if (progress_) {
    progress_(Progress(TransferPhase::kReceiving));
  }
}

TransferProgress TransferWatch::Progress(TransferPhase phase) const {
  TransferProgress progress;
  progress.phase = phase;
  progress.bytes = body_bytes_;
  progress.total = announced_;
  return progress;
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

TransferError TransferWatch::Refused(const HttpStatus& status) const {
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
  const ByteSink append = [&reply, &url](std::span<const std::byte> bytes) {
    if (bytes.size() > kMaxTextBytes - reply.body.size()) {
      throw Error(error_number::kTransferFailed,
                  "A resposta de " + ShownAddress(url) + " passa de " +
                      std::to_string(kMaxTextBytes / (1024 * 1024)) + " MiB",
                  kTransferSource);
    }
    reply.body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  HttpStatus status = Run(url, false, append, std::nullopt);
  reply.status = status.code;
  reply.status_text = std::move(status.text);
  return reply;
}

void InternetTransferBase::OpenUrlBytes(const std::string& url, const ByteSink& sink,
                                        std::optional<std::uint64_t> max_bytes) {
  Run(url, true, sink, max_bytes);
}

HttpStatus InternetTransferBase::Run(const std::string& url, bool fail_on_http_error,
                                     const ByteSink& sink, std::optional<std::uint64_t> max_bytes) {
  url_ = url;
  const Clock::TimePoint start = clock_.Now();
  TransferWatch watch(url_, sink, max_bytes, clock_, timeouts_, handler_, progress_);
  TransferOutcome outcome;
  outcome.url = ShownAddress(url_);
  outcome.attempts = 1;
  // Says how the call ended to whoever listens, however it ends.
  const auto tell = [&](TransferPhase phase) {
    outcome.bytes = outcome.bytes_received = watch.BodyBytes();
    outcome.duration = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - start);
    if (progress_) {
      progress_(watch.Progress(phase));
    }
    if (outcome_) {
      outcome_(outcome);
    }
  };
  // The last states are reported while the transfer still counts as executing, as they
  // belong to it.
  const BusyFlag busy(executing_);
  watch.Reached(TransferState::kResolving);
  HttpStatus status;
  try {
    // A line break would end the request line early and start a header of its own.
    if (HasControlCharacters(url)) {
      throw watch.Failure("o endereço tem caracteres de controle");
    }
    status = Fetch(watch, fail_on_http_error);
  } catch (const TransferError& failure) {
    outcome.failure = failure.Reason();
    outcome.http_status = failure.HttpStatusCode().value_or(0);
    watch.Report(TransferState::kError);
    tell(TransferPhase::kFailed);
    throw;
  } catch (...) {
    outcome.failure = ErrorFromException(std::current_exception(), kTransferSource).Description();
    watch.Report(TransferState::kError);
    tell(TransferPhase::kFailed);
    throw;
  }
  outcome.http_status = status.code;
  watch.Reached(TransferState::kClosed);
  watch.Report(TransferState::kCompleted);
  tell(TransferPhase::kFinished);
  return status;
}

}  // namespace kalo::platform
