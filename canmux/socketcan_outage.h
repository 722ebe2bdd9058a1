#pragma once
// One SocketCAN interface between a failure and its return. An outage starts with the first
// receive or send that fails for a reason the interface gives (it went down, it was removed,
// its transmit queue stays full) and is logged once; it ends, logged once more, with the first
// send or receive that works again, or when a check finds the interface usable. While it
// lasts, sends fail at once instead of waiting on the queue, and the interface is checked at
// most once per kCheckInterval_ms, so nothing spins.
//
// Thread-safe: sends come from several threads, receives from one.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum class SocketCanFault {
  kNone,       // not the interface's doing (EAGAIN, EINTR, ...)
  kDown,       // ENETDOWN: `ip link set ... down`, or a real adapter stopped
  kGone,       // ENODEV / ENXIO: the interface was removed; the socket must be opened again
  kQueueFull,  // ENOBUFS beyond the send's retry budget: nobody acknowledges, or bus-off
};

class SocketCanOutage {
 public:
  static constexpr int64_t kCheckInterval_ms = 250;

  // What an errno from recv or send says about the interface (ENOBUFS: kQueueFull).
  static SocketCanFault FaultOf(int error);

  // A failure of kind `fault` (not kNone) with `error`. Returns the line to log when this
  // starts an outage, otherwise "".
  std::string failed(SocketCanFault fault, int error, const std::string& name, int64_t now_ms);
  // A send, a receive or a check showed the interface working. Returns the line to log when
  // this ends an outage, otherwise "".
  std::string worked(const std::string& name, int64_t now_ms);

  bool active() const { return active_.load(std::memory_order_acquire); }
  SocketCanFault fault() const;
  // True at most once per check interval while an outage lasts; the caller then checks.
  bool checkDue(int64_t now_ms);

 private:
  std::atomic<bool> active_{false};
  mutable std::mutex mutex_;  // guards the members below
  SocketCanFault fault_ = SocketCanFault::kNone;
  int64_t since_ms_ = 0;
  int64_t lastCheck_ms_ = 0;
};
