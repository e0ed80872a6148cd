// Waiting for something that another process or thread brings about.
#pragma once

#include <chrono>
#include <thread>

namespace kalo::test {

// Checks `done` every 10 ms for up to `limit`; whether it came true.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit) {
  using namespace std::chrono_literals;
  for (auto waited = 0ms; waited < limit; waited += 10ms) {
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

}  // namespace kalo::test
