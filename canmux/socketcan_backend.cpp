#include "canmux/socketcan_backend.h"

#include <errno.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>
#include <linux/can/raw.h>

#include <cstdio>
#include <cstring>

#include "canmux/can_mux.h"
#include "canmux/socketcan_conversion.h"
#include "canmux/time_stamp.h"

namespace {

std::string bringUpCommand(const std::string& name) {
  char text[96];
  std::snprintf(text, sizeof text, SocketCanBackend::kBringUpHint, name.c_str());
  return text;
}

bool fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = "SocketCAN " + text;
  return false;
}

// Existence and state are checked through an ordinary socket, so that a missing or downed
// interface is named even on a kernel without CAN support.
bool checkInterface(const std::string& name, std::string* error) {
  if (name.empty() || name.size() >= IFNAMSIZ) {
    return fail(error, "interface name \"" + name + "\" is not valid: use socketcan:IFACE, for "
                       "example socketcan:can0");
  }
  if (if_nametoindex(name.c_str()) == 0) {
    return fail(error, "interface " + name + " does not exist: connect the CAN adapter, or "
                       "create a virtual bus with `ip link add dev " + name +
                       " type vcan`, then bring it up with `" + bringUpCommand(name) + "`");
  }
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;  // cannot tell; bind will report what is wrong
  struct ifreq request {};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  const bool known = ioctl(probe, SIOCGIFFLAGS, &request) == 0;
  close(probe);
  if (known && !(request.ifr_flags & IFF_UP)) {
    return fail(error, "interface " + name + " is down: bring it up with `" +
                       bringUpCommand(name) + "` (a vcan interface: `ip link set " + name +
                       " up`)");
  }
  return true;
}

uint32_t timeStampMicros(const struct msghdr& header) {
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
       c = CMSG_NXTHDR(const_cast<struct msghdr*>(&header), c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMP) {
      struct timeval stamp {};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return static_cast<uint32_t>(static_cast<uint64_t>(stamp.tv_sec) * 1000000u +
                                   static_cast<uint64_t>(stamp.tv_usec));
    }
  }
  return 0;
}

}  // namespace

std::shared_ptr<SocketCanBackend> SocketCanBackend::open(const std::string& name,
                                                         std::string* error) {
  if (!checkInterface(name, error)) return nullptr;

  const int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    const int err = errno;
    if (err == EAFNOSUPPORT || err == EPROTONOSUPPORT) {
      fail(error, "cannot open a CAN socket for " + name + " (" + std::strerror(err) +
                  "): this kernel has no CAN support; load it with `modprobe can_raw` "
                  "(and `modprobe vcan` for a virtual bus), then `" + bringUpCommand(name) + "`");
    } else {
      fail(error, "cannot open a CAN socket for " + name + ": " + std::strerror(err));
    }
    return nullptr;
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
    fail(error, "cannot bind to " + name + " (" + std::strerror(err) +
                "): is it a CAN interface, and is it up (`" + bringUpCommand(name) + "`)?");
    return nullptr;
  }
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    const int err = errno;
    close(fd);
    fail(error, "cannot create the receive wake-up for " + name + ": " + std::strerror(err));
    return nullptr;
  }
  return std::shared_ptr<SocketCanBackend>(new SocketCanBackend(fd, wakeFd, name));
}

SocketCanBackend::SocketCanBackend(int fd, int wakeFd, std::string name)
    : fd_(fd), wakeFd_(wakeFd), name_(std::move(name)) {
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

int32_t SocketCanBackend::transmit(uint32_t id, const uint8_t* data, uint8_t size) {
  const struct can_frame frame = StreamMessageToCanFrame(id, data, size);
  // A full transmit queue during a burst is transient: wait briefly rather than lose the frame.
  for (int waited_us = 0;; waited_us += kTransmitRetryStep_us) {
    if (write(fd_, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame)) return 0;
    const bool queueFull = errno == ENOBUFS || errno == EAGAIN;
    if (!queueFull || waited_us >= kTransmitRetryBudget_us) return kCanMuxStatusTransmitFailed;
    struct pollfd writable {fd_, POLLOUT, 0};
    poll(&writable, 1, 0);
    usleep(kTransmitRetryStep_us);
  }
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
    if (received <= 0) {
      if (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return kCanMuxStatusReceiveFailed;
      }
      return 0;
    }
    for (int i = 0; i < received; ++i) {
      if (headers_[i].msg_len < sizeof(struct can_frame)) continue;
      if (CanFrameToStreamMessage(frames_[i], timeStampMicros(headers_[i].msg_hdr),
                                  &buffer[*count])) {
        ++*count;
      }
    }
    if (static_cast<unsigned>(received) < batch) return 0;  // drained
  }
  return 0;
}
