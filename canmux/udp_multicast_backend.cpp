#include "canmux/udp_multicast_backend.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "canmux/can_mux.h"
#include "canmux/time_stamp.h"
#include "canmux/udp_frame_codec.h"

namespace {

constexpr int kSendRetryBudget_us = 10000;
constexpr int kSendRetryStep_us = 100;
constexpr int kReceiveBufferBytes = 4 << 20;

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

// "GROUP" or "GROUP:PORT" into the group and port.
bool SplitGroupAndPort(const std::string& where, std::string* group, uint16_t* port,
                       std::string* error) {
  const size_t colon = where.find(':');
  if (colon != where.rfind(':') || where.find('[') != std::string::npos)
    return Fail(error, "IPv6 groups are not carried (this machine's loopback has no IPv6 "
                       "multicast): use an IPv4 group such as 239.74.163.2");
  *group = where.empty() ? UdpMulticastBackend::kDefaultGroup : where.substr(0, colon);
  *port = UdpMulticastBackend::kDefaultPort;
  if (colon == std::string::npos) return true;
  const std::string portText = where.substr(colon + 1);
  if (portText.empty()) return Fail(error, "the port after GROUP: is empty");
  char* end = nullptr;
  const unsigned long value = std::strtoul(portText.c_str(), &end, 10);
  if (*end != '\0' || portText[0] < '0' || portText[0] > '9' || value == 0 || value > 65535)
    return Fail(error, "the port must be a number from 1 to 65535, got \"" + portText + "\"");
  *port = static_cast<uint16_t>(value);
  return true;
}

// The socket that hears the group: bound to its port on every address, a member of the group
// on the loopback interface, taking the kernel's receive time stamps. -1 and the reason
// otherwise.
int OpenReceiveSocket(const in_addr& group, uint16_t port, std::string* error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(error, Reason("cannot open a UDP socket")), -1;
  const int on = 1;
  // Every process on this machine that joins the bus binds the same port.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
  // Room for a second or more of a busy bus while this process is not scheduled (a loaded
  // machine): a full buffer drops datagrams, which here are frames. The kernel caps it at
  // net.core.rmem_max.
  const int room = kReceiveBufferBytes;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  // Only this group: a socket bound to every address would otherwise also hear the groups
  // other sockets on this machine joined on the same port.
  const int off = 0;
  setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    Fail(error, Reason("cannot bind UDP port " + std::to_string(port)));
    close(fd);
    return -1;
  }
  ip_mreq request{};
  request.imr_multiaddr = group;
  request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
  if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    Fail(error, Reason("cannot join the multicast group on the loopback interface"));
    close(fd);
    return -1;
  }
  return fd;
}

// The socket frames are sent from: a port of its own (how our echoes are told apart), out of
// the loopback interface with a time-to-live of 0, loop on so that the other processes of this
// machine hear them. -1 otherwise.
int OpenSendSocket(uint16_t* ownPort, std::string* error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(error, Reason("cannot open a UDP socket")), -1;
  const unsigned char ttl = 0;
  const unsigned char loop = 1;
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  socklen_t length = sizeof local;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    Fail(error, Reason("cannot set up the sending UDP socket"));
    close(fd);
    return -1;
  }
  *ownPort = ntohs(local.sin_port);
  return fd;
}

uint16_t SourcePort(const sockaddr_in& source) { return ntohs(source.sin_port); }

}  // namespace

std::shared_ptr<UdpMulticastBackend> UdpMulticastBackend::open(const std::string& where,
                                                               std::string* error) {
  std::string groupText;
  uint16_t port = 0;
  std::string problem;
  if (!SplitGroupAndPort(where, &groupText, &port, &problem)) {
    Fail(error, "udp_multicast:" + where + ": " + problem);
    return nullptr;
  }
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(port);
  if (inet_pton(AF_INET, groupText.c_str(), &group.sin_addr) != 1 ||
      !IN_MULTICAST(ntohl(group.sin_addr.s_addr))) {
    Fail(error, "udp_multicast:" + where + ": \"" + groupText +
                    "\" is not an IPv4 multicast group (224.0.0.0/4, e.g. 239.74.163.2)");
    return nullptr;
  }
  const int receiveFd = OpenReceiveSocket(group.sin_addr, port, error);
  if (receiveFd < 0) return nullptr;
  uint16_t ownPort = 0;
  const int sendFd = OpenSendSocket(&ownPort, error);
  const int wakeFd = sendFd < 0 ? -1 : eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (sendFd < 0 || wakeFd < 0) {
    if (sendFd >= 0) {
      Fail(error, Reason("cannot create the receive wake-up"));
      close(sendFd);
    }
    close(receiveFd);
    return nullptr;
  }
  return std::shared_ptr<UdpMulticastBackend>(
      new UdpMulticastBackend(receiveFd, sendFd, wakeFd, ownPort, group));
}

UdpMulticastBackend::UdpMulticastBackend(int receiveFd, int sendFd, int wakeFd, uint16_t ownPort,
                                         const sockaddr_in& destination)
    : receiveFd_(receiveFd),
      sendFd_(sendFd),
      wakeFd_(wakeFd),
      ownPort_(ownPort),
      destination_(destination) {}

UdpMulticastBackend::~UdpMulticastBackend() {
  close(receiveFd_);
  close(sendFd_);
  close(wakeFd_);
}

int32_t UdpMulticastBackend::transmit(uint32_t id, const uint8_t* data, uint8_t size) {
  CanStreamMessage frame{};
  frame.messageID = id;
  frame.dataSize = data == nullptr ? 0 : (size > 8 ? 8 : size);
  if (frame.dataSize > 0) std::memcpy(frame.data, data, frame.dataSize);
  const std::vector<uint8_t> datagram =
      EncodeUdpFrame(frame, static_cast<double>(WallClockMicros()) / 1e6);
  // A full socket buffer during a burst is transient: wait briefly rather than lose the frame.
  for (int waited_us = 0;; waited_us += kSendRetryStep_us) {
    const ssize_t sent =
        sendto(sendFd_, datagram.data(), datagram.size(), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
    if (sent == static_cast<ssize_t>(datagram.size())) return 0;
    const bool full = sent < 0 && (errno == EAGAIN || errno == ENOBUFS);
    if (!full || waited_us >= kSendRetryBudget_us) return kCanMuxStatusTransmitFailed;
    usleep(kSendRetryStep_us);
  }
}

int32_t UdpMulticastBackend::receive(CanStreamMessage* buffer, uint32_t capacity,
                                     uint32_t* count) {
  *count = 0;
  uint8_t datagram[kMaxUdpFrameBytes + 1];
  alignas(cmsghdr) char control[64];
  while (*count < capacity) {
    sockaddr_in source{};
    iovec part{datagram, sizeof datagram};
    msghdr header{};
    header.msg_name = &source;
    header.msg_namelen = sizeof source;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(receiveFd_, &header, MSG_DONTWAIT);
    if (size < 0) {
      return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR
                 ? 0
                 : kCanMuxStatusReceiveFailed;
    }
    if (SourcePort(source) == ownPort_) continue;  // our own frame, looped back
    CanStreamMessage& frame = buffer[*count];
    if ((header.msg_flags & MSG_TRUNC) ||
        !DecodeUdpFrame(datagram, static_cast<size_t>(size), &frame)) {
      ignored_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    frame.timeStamp = KernelReceiveStamp_us(header);
    ++*count;
  }
  return 0;
}

void UdpMulticastBackend::waitForFrames(int timeout_ms) {
  pollfd waiting[2] = {{receiveFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  if (poll(waiting, 2, timeout_ms < 0 ? -1 : timeout_ms) <= 0) return;
  if (waiting[1].revents & POLLIN) {
    uint64_t pending = 0;
    [[maybe_unused]] const ssize_t consumed = read(wakeFd_, &pending, sizeof pending);
  }
}

void UdpMulticastBackend::wakeReceiver() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

int64_t UdpMulticastBackend::receivedAtWallClock_us(const CanStreamMessage& frame) const {
  const int64_t now_us = WallClockMicros();
  return frame.timeStamp == 0 ? now_us : UnwrapMicros(frame.timeStamp, now_us);
}
