// Exceptions must not unwind through the system's code between DispatchMessageW and a
// window procedure. The procedures keep the first one in a carrier, and the code that
// dispatched the message throws it again.
#pragma once

#include <exception>
#include <utility>

namespace kalo::platform {

class ExceptionCarrier {
 public:
  template <typename Action>
  void Run(Action&& action) noexcept {
    try {
      action();
    } catch (...) {
      if (!pending_) {
        pending_ = std::current_exception();
      }
    }
  }

  void RethrowPending() {
    if (pending_) {
      std::rethrow_exception(std::exchange(pending_, nullptr));
    }
  }

 private:
  std::exception_ptr pending_;
};

}  // namespace kalo::platform
