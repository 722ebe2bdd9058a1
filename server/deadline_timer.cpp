#include "server/deadline_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

namespace quor::tessera::networking {

// The monotonic clock of runtime::MonotonicMillis is CLOCK_MONOTONIC (steady_clock on Linux),
// so an absolute expiry on it is the deadline the framing computes.
DeadlineTimer::DeadlineTimer()
    : descriptor_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}

DeadlineTimer::~DeadlineTimer() { close(); }

bool DeadlineTimer::expireBy(int64_t atMs) {
  if (armedAtMs_ <= atMs) return true;
  itimerspec expiry{};
  expiry.it_value.tv_sec = static_cast<time_t>(atMs / 1000);
  expiry.it_value.tv_nsec = static_cast<long>(atMs % 1000) * 1000000L;
  if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0) expiry.it_value.tv_nsec = 1;
  if (::timerfd_settime(descriptor_, TFD_TIMER_ABSTIME, &expiry, nullptr) != 0) return false;
  armedAtMs_ = atMs;
  return true;
}

void DeadlineTimer::acknowledge() {
  uint64_t expirations = 0;
  // Nothing to read after a spurious wake-up; the descriptor is non-blocking.
  [[maybe_unused]] const ssize_t n = ::read(descriptor_, &expirations, sizeof(expirations));
  armedAtMs_ = kNotArmed;
}

void DeadlineTimer::close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  armedAtMs_ = kNotArmed;
}

}  // namespace quor::tessera::networking
