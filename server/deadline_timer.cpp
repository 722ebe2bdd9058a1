#include "server/deadline_timer.h"

#include <unistd.h>

#include "runtime/monotonic_timer_fd.h"

namespace quor::tessera::networking {

namespace {

constexpr int64_t kNanosPerMilli = 1000000;

}  // namespace

DeadlineTimer::DeadlineTimer()
    : descriptor_(runtime::CreateMonotonicTimerFd(/*nonBlocking=*/true)) {}

DeadlineTimer::~DeadlineTimer() { close(); }

bool DeadlineTimer::expireBy(int64_t atMs) {
  if (armedAtMs_ <= atMs) return true;
  if (!runtime::ArmMonotonicTimerFdAt(descriptor_, atMs * kNanosPerMilli)) return false;
  armedAtMs_ = atMs;
  return true;
}

void DeadlineTimer::acknowledge() {
  // Nothing to take after a spurious wake-up; the descriptor is non-blocking.
  runtime::TakeMonotonicTimerExpiry(descriptor_);
  armedAtMs_ = kNotArmed;
}

void DeadlineTimer::close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  armedAtMs_ = kNotArmed;
}

}  // namespace quor::tessera::networking
