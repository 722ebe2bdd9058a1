#pragma once
// A kernel timer as a descriptor, on the same clock as runtime/monotonic_clock.h
// (CLOCK_MONOTONIC is the clock steady_clock reads), so a deadline computed from that clock is
// the timer's absolute expiry. Its expiry has no timer slack.
#include <cstdint>

namespace quor::tessera::runtime {

// -1 when the kernel has no timer to give (errno says why).
int CreateMonotonicTimerFd(bool nonBlocking);
// Arms it once for `dueNanos` on the monotonic clock, replacing any earlier setting; a time
// already passed makes it expire at once.
bool ArmMonotonicTimerFdAt(int timerFd, int64_t dueNanos);
// Takes the expiry: waits for it on a blocking descriptor, returns at once on a non-blocking
// one that has none.
void TakeMonotonicTimerExpiry(int timerFd);

}  // namespace quor::tessera::runtime
