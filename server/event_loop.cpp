#include "server/event_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace quor::tessera::networking {

EventLoop::EventLoop()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  epoll_event wake{};
  wake.events = EPOLLIN;  // level-triggered: it stays ready for every thread that waits
  wake.data.u64 = kWakeToken;
  if (valid() && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake) != 0) {
    ::close(wake_);
    wake_ = -1;
  }
}

EventLoop::~EventLoop() {
  if (wake_ >= 0) ::close(wake_);
  if (epoll_ >= 0) ::close(epoll_);
}

bool EventLoop::add(int descriptor, uint64_t token, uint32_t events) {
  epoll_event registration{};
  registration.events = events | EPOLLONESHOT;
  registration.data.u64 = token;
  return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, descriptor, &registration) == 0;
}

bool EventLoop::rearm(int descriptor, uint64_t token, uint32_t events) {
  epoll_event registration{};
  registration.events = events | EPOLLONESHOT;
  registration.data.u64 = token;
  return ::epoll_ctl(epoll_, EPOLL_CTL_MOD, descriptor, &registration) == 0;
}

bool EventLoop::wait(int timeoutMs, epoll_event& ready) {
  for (;;) {
    // One event per wait: a thread that then runs a long handler holds no other one back.
    const int count = ::epoll_wait(epoll_, &ready, 1, timeoutMs);
    if (count == 1) return true;
    if (count == 0 || errno != EINTR) return false;
  }
}

void EventLoop::wakeAll() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof(one));
}

}  // namespace quor::tessera::networking
