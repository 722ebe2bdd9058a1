#pragma once
// A one-shot alarm on the monotonic clock for one sleeping thread. Any thread may set it; the
// kernel's timer then wakes the sleeper once, when it is due, so whoever plans the sleeper's
// next wake-up does not have to wake it first to tell it.
#include <cstdint>

class MonotonicAlarm {
 public:
  // Throws std::system_error when the kernel has no timer to give.
  MonotonicAlarm();
  ~MonotonicAlarm();
  MonotonicAlarm(const MonotonicAlarm&) = delete;
  MonotonicAlarm& operator=(const MonotonicAlarm&) = delete;

  // Goes off at `due_us` on the monotonic clock (runtime/monotonic_clock.h), at once if that has
  // passed; replaces any earlier setting.
  void setAt(int64_t due_us);
  void goOffNow();
  // Sleeps until the alarm has gone off since the last return.
  void wait();

 private:
  int timerFd_;
};
