#include "canmux/wake_signal.h"

#include <chrono>

void WakeSignal::raise() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    pending_ = true;
  }
  raised_.notify_one();
}

bool WakeSignal::wait(int timeout_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  const auto isPending = [this] { return pending_; };
  if (timeout_ms < 0) {
    raised_.wait(hold, isPending);
  } else {
    // steady_clock: the one monotonic clock, so a wall-clock jump neither ends nor stretches it.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    raised_.wait_until(hold, deadline, isPending);
  }
  const bool wasRaised = pending_;
  pending_ = false;
  return wasRaised;
}
