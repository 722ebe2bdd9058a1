#pragma once
// A raw SocketCAN socket on a Linux CAN interface (can0, vcan0): 29-bit frames, received in
// batches with the kernel's receive time stamps. The receive thread sleeps in poll() on the
// socket and an eventfd that wakeReceiver() writes.
#include <sys/socket.h>
#include <sys/uio.h>
#include <linux/can.h>

#include <memory>
#include <string>

#include "canmux/can_backend.h"

class SocketCanBackend : public CanBackend {
 public:
  // The bring-up command every error text points to.
  static constexpr const char* kBringUpHint = "ip link set %s up type can bitrate 1000000";
  // How long a send keeps retrying while the interface's transmit queue is full.
  static constexpr int kTransmitRetryBudget_us = 10000;
  static constexpr int kTransmitRetryStep_us = 100;
  static constexpr unsigned kReceiveBatch = 64;

  // nullptr with a message that names the interface and the fix when the kernel has no CAN
  // support, the interface does not exist or is down, or the socket cannot be bound.
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

  int fd_;
  int wakeFd_;  // eventfd: readable while a wake-up is pending
  std::string name_;
  // One recvmmsg batch: frames, their I/O vectors and the control data carrying time stamps.
  struct can_frame frames_[kReceiveBatch];
  struct iovec iov_[kReceiveBatch];
  struct mmsghdr headers_[kReceiveBatch];
  alignas(struct cmsghdr) char control_[kReceiveBatch][64];
};
