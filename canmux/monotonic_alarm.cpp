#include "canmux/monotonic_alarm.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kNanosPerMicro = 1000;

}  // namespace

// CLOCK_MONOTONIC is the clock std::chrono::steady_clock reads, so the due times of the
// project's monotonic clock are this timer's absolute times. Its expiry has no timer slack.
MonotonicAlarm::MonotonicAlarm() : timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)) {
  if (timerFd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
}

MonotonicAlarm::~MonotonicAlarm() { ::close(timerFd_); }

void MonotonicAlarm::setAt(int64_t due_us) {
  // An all-zero time would disarm the timer instead of firing it.
  const int64_t due = std::max<int64_t>(due_us, 1);
  itimerspec setting{};
  setting.it_value.tv_sec = static_cast<time_t>(due / kMicrosPerSecond);
  setting.it_value.tv_nsec = static_cast<long>((due % kMicrosPerSecond) * kNanosPerMicro);
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void MonotonicAlarm::goOffNow() { setAt(1); }

void MonotonicAlarm::wait() {
  uint64_t expirations = 0;
  while (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
  }
}
