#pragma once
// An auto-reset wake-up for one waiting thread: raise() ends the wait that runs now, or the next
// one if none runs, so a wake-up given just before the waiter arrives is never lost.
#include <condition_variable>
#include <mutex>

class WakeSignal {
 public:
  static constexpr int kForever = -1;

  // Any thread.
  void raise();
  // Returns when raised (clearing it) or after `timeout_ms` (kForever: no limit). True when
  // raised.
  bool wait(int timeout_ms);

 private:
  std::mutex mutex_;
  std::condition_variable raised_;
  bool pending_ = false;
};
