// When a failed transfer is tried again, and after how long. Written once for both
// backends: they say what an attempt ended with, the schedule says what comes next.
#pragma once

#include <chrono>
#include <optional>
#include <random>
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
  // The server answered that it is busy (HTTP 429 or 503).
  bool busy = false;
};

// Whether an answer with `status` may be worth asking again for.
bool IsTransientHttpStatus(int status);
// Whether an answer with `status` says the server is busy.
bool IsBusyHttpStatus(int status);

// The attempts of one transfer. A run of attempts that bring no new byte ends at
// `most_fruitless`, with waits of 1, 2, 4 and 8 s between them (8 s from then on); a
// server that says it is busy without a Retry-After is given `most_busy` attempts
// instead. With `spread`, each wait is drawn between half and all of its length, so that
// updaters turned away together come back apart. An attempt that brought bytes starts
// the count again and is followed at once, so a link that drops every few minutes still
// finishes.
class RetrySchedule {
 public:
  static constexpr int kDefaultAttempts = 5;
  static constexpr int kDefaultBusyAttempts = 10;
  // The longest Retry-After that is waited for; a longer one ends the attempts.
  static constexpr std::chrono::seconds kLongestRetryAfter{60};

  RetrySchedule(int most_fruitless, int most_busy, bool spread);

  // The wait before the next attempt after `failed`, or nothing when the attempts end.
  std::optional<std::chrono::milliseconds> Next(const FailedAttempt& failed);

  // The number the next attempt has in the present run of fruitless ones (2 after the
  // first failure), for the status line.
  int NextAttemptNumber() const { return fruitless_ + 1; }
  // The attempts the present run may make, by what the last one met.
  int MostAttempts() const { return most_now_; }

 private:
  int most_;
  int most_busy_;
  int most_now_;
  int fruitless_ = 0;
  std::optional<std::minstd_rand> spread_;
};

// "Nova tentativa 2 de 5 em 4 s: <reason>": the status line while a retry waits.
std::string RetryStatusText(int attempt, int most, std::chrono::milliseconds wait,
                            const std::string& reason);

}  // namespace kalo::platform
