#pragma once
// A raw SocketCAN socket on a Linux CAN interface (can0, vcan0): 29-bit frames, received in
// batches with the kernel's receive time stamps.
#include <sys/socket.h>
#include <sys/uio.h>
#include <linux/can.h>

#include <memory>
#include <string>

#include "canmux/can_backend.h"

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
  const char* interfaceName() const override { return name_.c_str(); }
  bool stampsAreWallClock() const override { return true; }

 private:
  SocketCanBackend(int fd, std::string name);

  int fd_;
  std::string name_;
  // One recvmmsg batch: frames, their I/O vectors and the control data carrying time stamps.
  struct can_frame frames_[kReceiveBatch];
  struct iovec iov_[kReceiveBatch];
  struct mmsghdr headers_[kReceiveBatch];
  alignas(struct cmsghdr) char control_[kReceiveBatch][64];
};
