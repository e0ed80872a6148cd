// A monotonic clock for waits. Tests hand in a clock they move by hand, so that a
// two-second wait costs them no time. And the time of day, for what is dated.
#pragma once

#include <chrono>
#include <functional>

namespace kalo::platform {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const { return std::chrono::steady_clock::now(); }
};

// The time of day (UTC) for dates that matter, such as when a signed manifest expires;
// tests hand in a fixed one.
using WallClock = std::function<std::chrono::system_clock::time_point()>;

}  // namespace kalo::platform
