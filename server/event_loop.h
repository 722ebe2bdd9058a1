#pragma once
// The one descriptor every serving thread waits on (epoll). Sockets and deadline timers are
// registered with a token that names them; each is reported to one thread at a time (one-shot)
// and waits again only once that thread re-arms it, so a connection is never served by two
// threads at once through the same registration. A wake-up descriptor, once written, stays
// ready and so reaches every waiting thread: that is how they are told to stop.
#include <sys/epoll.h>

#include <cstdint>

namespace quor::tessera::networking {

class EventLoop {
 public:
  // The token of the wake-up descriptor; never given to a registration.
  static constexpr uint64_t kWakeToken = UINT64_MAX;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // False when the descriptors could not be created.
  bool valid() const { return epoll_ >= 0 && wake_ >= 0; }

  // Registers `descriptor` for `events` (EPOLLIN, EPOLLOUT), reported once with `token`.
  bool add(int descriptor, uint64_t token, uint32_t events);
  // Arms a reported registration again, possibly for other events.
  bool rearm(int descriptor, uint64_t token, uint32_t events);

  // Waits at most `timeoutMs` (-1: no limit) for one ready registration; false on time-out.
  bool wait(int timeoutMs, epoll_event& ready);
  // Every wait from now on returns the wake token at once.
  void wakeAll();

 private:
  int epoll_ = -1;
  int wake_ = -1;
};

}  // namespace quor::tessera::networking
