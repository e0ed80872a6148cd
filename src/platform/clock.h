// A monotonic clock for waits. Tests hand in a clock they move by hand, so that a
// two-second wait costs them no time.
#pragma once

#include <chrono>

namespace kalo::platform {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const { return std::chrono::steady_clock::now(); }
};

}  // namespace kalo::platform
