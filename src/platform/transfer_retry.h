// When a failed transfer is tried again, and after how long. Written once for both
// backends: they say what an attempt ended with, the schedule says what comes next.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace kalo::platform {

// What one failed attempt tells the schedule.
struct FailedAttempt {
  // A failure that may pass: a refused, reset or dropped connection, a failed name lookup,
  // a stall, or HTTP 408, 429, 500, 502, 503 or 504.
  bool transient = false;
  // Whether the attempt added bytes to what the earlier ones brought.
  bool brought_bytes = false;
  // The server's Retry-After, when it gave one in seconds.
  std::optional<std::chrono::seconds> retry_after;
};

// Whether an answer with `status` may be worth asking again for.
bool IsTransientHttpStatus(int status);

// The attempts of one transfer. A run of attempts that bring no new byte ends at
// `most_fruitless` (kDefaultAttempts unless a caller says), with waits of 1, 2, 4 and
// 8 s between them; an attempt that brought bytes starts the count again and is followed
// at once, so a link that drops every few minutes still finishes.
class RetrySchedule {
 public:
  static constexpr int kDefaultAttempts = 5;
  // The longest Retry-After that is waited for; a longer one ends the attempts.
  static constexpr std::chrono::seconds kLongestRetryAfter{60};

  explicit RetrySchedule(int most_fruitless = kDefaultAttempts) : most_(most_fruitless) {}

  // The wait before the next attempt after `failed`, or nothing when the attempts end.
  std::optional<std::chrono::milliseconds> Next(const FailedAttempt& failed);

  // The number the next attempt has in the present run of fruitless ones (2 after the
  // first failure), for the status line.
  int NextAttemptNumber() const { return fruitless_ + 1; }
  int MostAttempts() const { return most_; }

 private:
  int most_;
  int fruitless_ = 0;
};

// "Nova tentativa 2 de 5 em 4 s: <reason>": the status line while a retry waits.
std::string RetryStatusText(int attempt, int most, std::chrono::milliseconds wait,
                            const std::string& reason);

}  // namespace kalo::platform
