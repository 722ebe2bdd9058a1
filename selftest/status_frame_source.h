#pragma once
// Where a self-test's status frames come from. On the robot it is a receive session of the
// self-test's own, filtered for the device under test; tests hand in frames of their own.
#include <cstdint>

#include "device/can_frame_layer.h"


class StatusFrameSource {
 public:
  virtual ~StatusFrameSource() = default;
  // Opens the receive filter of `filterMode` for one device (frame-layer modes 2..9).
  virtual void Open(uint8_t filterMode, uint32_t deviceNumber) = 0;
  virtual void Close() = 0;
  // Lets the bus run for `pause_ms`, then queues what the session received meanwhile.
  virtual void Receive(int pause_ms) = 0;
  // The oldest queued frame, or null when none is queued; valid until Pop.
  virtual const _CAN_MessageEvent* Front() = 0;
  virtual void Pop() = 0;
};

// A session of its own, not the frame layer's: a self-test only listens, so it runs beside the
// rounds and commands, which keep the frame layer and the bus to themselves.
class SessionFrameSource : public StatusFrameSource {
 public:
  void Open(uint8_t filterMode, uint32_t deviceNumber) override;
  void Close() override;
  void Receive(int pause_ms) override;
  const _CAN_MessageEvent* Front() override;
  void Pop() override;

 private:
  CanReceiveSession session_;
};
