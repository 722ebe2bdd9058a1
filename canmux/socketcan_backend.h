#pragma once
// A raw SocketCAN socket on a Linux CAN interface (can0, vcan0): 29-bit frames, received in
// batches with the kernel's receive time stamps. The receive thread sleeps in poll() on the
// socket and an eventfd that wakeReceiver() writes. It rides out the interface going down and
// up, being removed and created again, or a transmit queue that stays full (socketcan_outage.h).
#include <sys/socket.h>
#include <sys/uio.h>
#include <linux/can.h>

#include <atomic>
#include <memory>
#include <string>

#include "canmux/can_backend.h"
#include "canmux/socketcan_outage.h"

class SocketCanBackend : public CanBackend {
 public:
  // How long a send keeps retrying while the interface's transmit queue is full.
  static constexpr int kTransmitRetryBudget_us = 10000;
  static constexpr int kTransmitRetryStep_us = 100;
  static constexpr unsigned kReceiveBatch = 64;

  // nullptr with a message that names the interface and the fix (see socketcan_advice.h) when
  // the kernel has no CAN support, the interface does not exist, is not CAN or is down, or the
  // socket cannot be bound.
  static std::shared_ptr<SocketCanBackend> open(const std::string& interfaceName,
                                                std::string* error);
  ~SocketCanBackend() override;
  SocketCanBackend(const SocketCanBackend&) = delete;
  SocketCanBackend& operator=(const SocketCanBackend&) = delete;

  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override;
  int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) override;
  void waitForFrames(int timeout_ms) override;
  void wakeReceiver() override;
  // The kernel's stamp (wall clock) of the frame's arrival.
  int64_t receivedAtWallClock_us(const CanStreamMessage& frame) const override;
  const char* interfaceName() const override { return name_.c_str(); }

 private:
  SocketCanBackend(int fd, int wakeFd, std::string name);
  // 0, or the errno of the last try; a full queue is retried for at most `retryBudget_us`.
  int writeFrame(const struct can_frame& frame, int retryBudget_us);
  // Starts an outage when `error` is the interface's doing (logged once).
  void noteFailure(int error);
  // At most once per check interval while an outage lasts: is the interface usable again?
  // Reopens the socket when the interface was removed and created anew.
  void checkDuringOutage();
  int32_t receiveFailed(int error);

  int fd_;      // replaced in place (dup3) when the socket is reopened
  int wakeFd_;  // eventfd: readable while a wake-up is pending
  std::string name_;
  std::atomic<unsigned> ifindex_;  // of the interface the socket is bound to
  SocketCanOutage outage_;
  // One recvmmsg batch: frames, their I/O vectors and the control data carrying time stamps.
  struct can_frame frames_[kReceiveBatch];
  struct iovec iov_[kReceiveBatch];
  struct mmsghdr headers_[kReceiveBatch];
  alignas(struct cmsghdr) char control_[kReceiveBatch][64];
};
