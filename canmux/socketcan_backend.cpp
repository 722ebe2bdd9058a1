#include "canmux/socketcan_backend.h"

#include <errno.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>
#include <linux/can/raw.h>

#include <cstring>

#include "canmux/can_mux.h"
#include "canmux/socketcan_advice.h"
#include "canmux/socketcan_conversion.h"

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
  if (if_nametoindex(name.c_str()) == 0) return fail(error, SocketCanProblem::kNoSuchInterface, name);
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
  if (name.empty() || name.size() >= IFNAMSIZ) {
    fail(error, SocketCanProblem::kInvalidName, name);
    return nullptr;
  }
  const int fd = openCanSocket(name, error);
  if (fd < 0) return nullptr;
  if (!checkInterface(fd, name, error)) {
    close(fd);
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
    fail(error, SocketCanProblem::kBindFailed, name, err);
    return nullptr;
  }
  return std::shared_ptr<SocketCanBackend>(new SocketCanBackend(fd, name));
}

SocketCanBackend::SocketCanBackend(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  for (unsigned i = 0; i < kReceiveBatch; ++i) {
    iov_[i].iov_base = &frames_[i];
    iov_[i].iov_len = sizeof frames_[i];
  }
}

SocketCanBackend::~SocketCanBackend() { close(fd_); }

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
