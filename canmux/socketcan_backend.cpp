#include "canmux/socketcan_backend.h"

#include <errno.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>
#include <linux/can/raw.h>

#include <cstring>
#include <sstream>

#include "canmux/can_mux.h"
#include "canmux/socketcan_advice.h"
#include "canmux/socketcan_conversion.h"
#include "canmux/time_stamp.h"
#include "runtime/diag_print.h"
#include "runtime/monotonic_clock.h"

namespace {

bool fail(std::string* error, SocketCanProblem problem, const std::string& name, int err = 0) {
  if (error != nullptr) *error = SocketCanAdvice(problem, name, err);
  return false;
}

// Kernel support first: without it, nothing said about the interface would help.
int openCanSocket(const std::string& name, std::string* error) {
  const int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd >= 0) return fd;
  const int err = errno;
  const bool noSupport = err == EAFNOSUPPORT || err == EPROTONOSUPPORT;
  fail(error, noSupport ? SocketCanProblem::kNoKernelSupport : SocketCanProblem::kSocketFailed,
       name, noSupport ? 0 : err);
  return -1;
}

// Existence, kind and state, each with its own advice.
bool checkInterface(int fd, const std::string& name, std::string* error) {
  if (if_nametoindex(name.c_str()) == 0) {
    return fail(error, SocketCanProblem::kNoSuchInterface, name);
  }
  struct ifreq request {};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  if (ioctl(fd, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family != ARPHRD_CAN) {
    return fail(error, SocketCanProblem::kNotCan, name);
  }
  if (ioctl(fd, SIOCGIFFLAGS, &request) == 0 && !(request.ifr_flags & IFF_UP)) {
    return fail(error, SocketCanProblem::kInterfaceDown, name);
  }
  return true;  // a check the kernel would not answer is left to bind
}

// A CAN socket bound to the interface, taking extended data frames with kernel time stamps;
// -1 with the reason in `error`.
int openBoundSocket(const std::string& name, std::string* error) {
  const int fd = openCanSocket(name, error);
  if (fd < 0) return -1;
  if (!checkInterface(fd, name, error)) {
    close(fd);
    return -1;
  }
  // Only extended data frames: the devices use nothing else.
  const struct can_filter filter = SocketCanFilterFor(0, 0);
  const int on = 1;
  setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter);
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);

  struct sockaddr_can address {};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
    const int err = errno;
    close(fd);
    fail(error, SocketCanProblem::kBindFailed, name, err);
    return -1;
  }
  return fd;
}

// Up and running: a real adapter that is up but bus-off or stopped is not.
bool interfaceUsable(int fd, const std::string& name) {
  struct ifreq request {};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  return ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP) &&
         (request.ifr_flags & IFF_RUNNING);
}

void logLine(const std::string& line, bool isError) {
  if (line.empty()) return;
  std::stringstream text;
  text << line;
  quor::tessera::diagnostics::LogStream(text, isError);
}

int64_t nowMillis() { return quor::tessera::runtime::MonotonicMillis(); }

}  // namespace

std::shared_ptr<SocketCanBackend> SocketCanBackend::open(const std::string& name,
                                                         std::string* error) {
  if (name.empty() || name.size() >= IFNAMSIZ) {
    fail(error, SocketCanProblem::kInvalidName, name);
    return nullptr;
  }
  const int fd = openBoundSocket(name, error);
  if (fd < 0) return nullptr;
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    const int err = errno;
    close(fd);
    if (error != nullptr) {
      *error = "cannot create the receive wake-up for " + name + ": " + std::strerror(err);
    }
    return nullptr;
  }
  return std::shared_ptr<SocketCanBackend>(new SocketCanBackend(fd, wakeFd, name));
}

SocketCanBackend::SocketCanBackend(int fd, int wakeFd, std::string name)
    : fd_(fd),
      wakeFd_(wakeFd),
      name_(std::move(name)),
      ifindex_(if_nametoindex(name_.c_str())) {
  for (unsigned i = 0; i < kReceiveBatch; ++i) {
    iov_[i].iov_base = &frames_[i];
    iov_[i].iov_len = sizeof frames_[i];
  }
}

SocketCanBackend::~SocketCanBackend() {
  close(fd_);
  close(wakeFd_);
}

void SocketCanBackend::waitForFrames(int timeout_ms) {
  struct pollfd waiting[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  // During an outage the socket may be bound to nothing and never become readable: wake at
  // the check interval so receive() can look at the interface again.
  if (outage_.active() && (timeout_ms < 0 || timeout_ms > SocketCanOutage::kCheckInterval_ms)) {
    timeout_ms = static_cast<int>(SocketCanOutage::kCheckInterval_ms);
  }
  // An error on the socket also ends the wait: receive() reports it.
  if (poll(waiting, 2, timeout_ms < 0 ? -1 : timeout_ms) <= 0) return;
  if (waiting[1].revents & POLLIN) {
    uint64_t pending = 0;
    [[maybe_unused]] const ssize_t consumed = read(wakeFd_, &pending, sizeof pending);
  }
}

void SocketCanBackend::wakeReceiver() {
  const uint64_t one = 1;
  // Fails only when the counter is full, which means a wake-up is pending anyway.
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

int64_t SocketCanBackend::receivedAtWallClock_us(const CanStreamMessage& frame) const {
  const int64_t now_us = WallClockMicros();
  return frame.timeStamp == 0 ? now_us : UnwrapMicros(frame.timeStamp, now_us);
}

int SocketCanBackend::writeFrame(const struct can_frame& frame, int retryBudget_us) {
  // A full transmit queue during a burst is transient: wait briefly rather than lose the frame.
  for (int waited_us = 0;; waited_us += kTransmitRetryStep_us) {
    if (write(fd_, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame)) return 0;
    const bool queueFull = errno == ENOBUFS || errno == EAGAIN;
    if (!queueFull) return errno;
    if (waited_us >= retryBudget_us) return ENOBUFS;
    struct pollfd writable {fd_, POLLOUT, 0};
    poll(&writable, 1, 0);
    usleep(kTransmitRetryStep_us);
  }
}

int32_t SocketCanBackend::transmit(uint32_t id, const uint8_t* data, uint8_t size) {
  const struct can_frame frame = StreamMessageToCanFrame(id, data, size);
  if (outage_.active()) checkDuringOutage();
  // During an outage a send gets one try: waiting for a queue that does not drain would stall
  // every sender for nothing.
  const int error = writeFrame(frame, outage_.active() ? 0 : kTransmitRetryBudget_us);
  if (error == 0) {
    logLine(outage_.worked(name_, nowMillis()), false);
    return 0;
  }
  noteFailure(error);
  return kCanMuxStatusTransmitFailed;
}

void SocketCanBackend::noteFailure(int error) {
  const SocketCanFault fault = SocketCanOutage::FaultOf(error);
  if (fault == SocketCanFault::kNone) return;
  logLine(outage_.failed(fault, error, name_, nowMillis()), true);
}

void SocketCanBackend::checkDuringOutage() {
  const int64_t now_ms = nowMillis();
  if (!outage_.checkDue(now_ms)) return;
  const SocketCanFault fault = outage_.fault();
  if (fault == SocketCanFault::kQueueFull) return;  // only a send that goes through can tell
  const unsigned index = if_nametoindex(name_.c_str());
  if (index == 0 || !interfaceUsable(fd_, name_)) return;
  // A removed and re-created interface has a new index; our socket is bound to none.
  if (fault == SocketCanFault::kGone || index != ifindex_.load()) {
    std::string ignored;
    const int fresh = openBoundSocket(name_, &ignored);
    if (fresh < 0) return;
    // In place, so that a send or a wait on another thread never sees a closed descriptor.
    dup3(fresh, fd_, O_CLOEXEC);
    close(fresh);
    ifindex_ = index;
  }
  logLine(outage_.worked(name_, now_ms), false);
}

int32_t SocketCanBackend::receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) {
  *count = 0;
  while (*count < capacity) {
    const unsigned batch = capacity - *count < kReceiveBatch ? capacity - *count : kReceiveBatch;
    for (unsigned i = 0; i < batch; ++i) {
      std::memset(&headers_[i], 0, sizeof headers_[i]);
      headers_[i].msg_hdr.msg_iov = &iov_[i];
      headers_[i].msg_hdr.msg_iovlen = 1;
      headers_[i].msg_hdr.msg_control = control_[i];
      headers_[i].msg_hdr.msg_controllen = sizeof control_[i];
    }
    const int received = recvmmsg(fd_, headers_, batch, MSG_DONTWAIT, nullptr);
    if (received < 0) return receiveFailed(errno);
    if (received > 0 && outage_.active() && outage_.fault() != SocketCanFault::kQueueFull) {
      logLine(outage_.worked(name_, nowMillis()), false);
    }
    for (int i = 0; i < received; ++i) {
      if (headers_[i].msg_len < sizeof(struct can_frame)) continue;
      if (CanFrameToStreamMessage(frames_[i], KernelReceiveStamp_us(headers_[i].msg_hdr),
                                  &buffer[*count])) {
        ++*count;
      }
    }
    if (static_cast<unsigned>(received) < batch) return 0;  // drained
  }
  return 0;
}

int32_t SocketCanBackend::receiveFailed(int error) {
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
    if (outage_.active()) checkDuringOutage();
    return 0;
  }
  // The interface's own trouble is logged here, once per outage, and is not a receive failure:
  // the multiplexer keeps asking, and gets frames again once the interface is back.
  if (SocketCanOutage::FaultOf(error) == SocketCanFault::kNone) return kCanMuxStatusReceiveFailed;
  noteFailure(error);
  return 0;
}
