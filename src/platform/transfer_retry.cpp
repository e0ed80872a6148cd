#include "platform/transfer_retry.h"

#include <algorithm>

namespace kalo::platform {

bool IsTransientHttpStatus(int status) {
  switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
      return true;
    default:
      return false;
  }
}

bool IsBusyHttpStatus(int status) {
  return status == 429 || status == 503;
}

RetrySchedule::RetrySchedule(int most_fruitless, int most_busy, bool spread)
    : most_(most_fruitless), most_busy_(most_busy), most_now_(most_fruitless) {
  if (spread) {
    spread_.emplace(std::random_device()());
  }
}

std::optional<std::chrono::milliseconds> RetrySchedule::Next(const FailedAttempt& failed) {
  if (!failed.transient || (failed.retry_after && *failed.retry_after > kLongestRetryAfter)) {
    return std::nullopt;
  }
  if (failed.brought_bytes) {
    fruitless_ = 0;
    return failed.retry_after.value_or(std::chrono::seconds(0));
  }
  most_now_ = failed.busy && !failed.retry_after ? most_busy_ : most_;
  if (++fruitless_ >= most_now_) {
    return std::nullopt;
  }
  // The server's own time is kept as it said.
  if (failed.retry_after) {
    return *failed.retry_after;
  }
  // 1, 2, 4 and 8 s after the first to the fourth fruitless attempt, 8 s after later ones.
  const std::chrono::milliseconds full = std::chrono::seconds(1 << std::min(fruitless_ - 1, 3));
  if (!spread_) {
    return full;
  }
  std::uniform_int_distribution<std::chrono::milliseconds::rep> share(full.count() / 2,
                                                                      full.count());
  return std::chrono::milliseconds(share(*spread_));
}

std::string RetryStatusText(int attempt, int most, std::chrono::milliseconds wait,
                            const std::string& reason) {
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
  return "Nova tentativa " + std::to_string(attempt) + " de " + std::to_string(most) + " em " +
         std::to_string(seconds) + " s: " + reason;
}

}  // namespace kalo::platform
