#include "platform/transfer_retry.h"

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

std::optional<std::chrono::milliseconds> RetrySchedule::Next(const FailedAttempt& failed) {
  if (!failed.transient || (failed.retry_after && *failed.retry_after > kLongestRetryAfter)) {
    return std::nullopt;
  }
  if (failed.brought_bytes) {
    fruitless_ = 0;
    return failed.retry_after.value_or(std::chrono::seconds(0));
  }
  if (++fruitless_ >= most_) {
    return std::nullopt;
  }
  // 1, 2, 4 and 8 s after the first to the fourth fruitless attempt.
  return failed.retry_after.value_or(std::chrono::seconds(1 << (fruitless_ - 1)));
}

std::string RetryStatusText(int attempt, int most, std::chrono::milliseconds wait,
                            const std::string& reason) {
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
  return "Nova tentativa " + std::to_string(attempt) + " de " + std::to_string(most) + " em " +
         std::to_string(seconds) + " s: " + reason;
}

}  // namespace kalo::platform
