#include "canmux/monotonic_alarm.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "runtime/monotonic_timer_fd.h"

namespace {

constexpr int64_t kNanosPerMicro = 1000;

}  // namespace

MonotonicAlarm::MonotonicAlarm()
    : timerFd_(quor::tessera::runtime::CreateMonotonicTimerFd(/*nonBlocking=*/false)) {
  if (timerFd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
}

MonotonicAlarm::~MonotonicAlarm() { ::close(timerFd_); }

void MonotonicAlarm::setAt(int64_t due_us) {
  quor::tessera::runtime::ArmMonotonicTimerFdAt(timerFd_, due_us * kNanosPerMicro);
}

void MonotonicAlarm::goOffNow() { setAt(0); }

void MonotonicAlarm::wait() { quor::tessera::runtime::TakeMonotonicTimerExpiry(timerFd_); }
