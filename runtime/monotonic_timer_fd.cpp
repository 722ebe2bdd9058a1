#include "runtime/monotonic_timer_fd.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quor::tessera::runtime {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

}  // namespace

int CreateMonotonicTimerFd(bool nonBlocking) {
  return ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | (nonBlocking ? TFD_NONBLOCK : 0));
}

bool ArmMonotonicTimerFdAt(int timerFd, int64_t dueNanos) {
  // An all-zero time would disarm the timer instead of making it expire.
  const int64_t due = std::max<int64_t>(dueNanos, 1);
  itimerspec setting{};
  setting.it_value.tv_sec = static_cast<time_t>(due / kNanosPerSecond);
  setting.it_value.tv_nsec = static_cast<long>(due % kNanosPerSecond);
  return ::timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &setting, nullptr) == 0;
}

void TakeMonotonicTimerExpiry(int timerFd) {
  uint64_t expirations = 0;
  while (::read(timerFd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
  }
}

}  // namespace quor::tessera::runtime
