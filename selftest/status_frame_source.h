#pragma once
// Where a self-test's status frames come from. On the robot it is the frame layer's receive
// ring behind a session filtered for the device under test; tests hand in frames of their own.
#include <cstdint>

struct _CAN_MessageEvent;

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

// The frame layer's session and receive ring (CAN_Init, CAN_Process, CAN_RX_*, CAN_DeInit).
class ReceiveRingSource : public StatusFrameSource {
 public:
  void Open(uint8_t filterMode, uint32_t deviceNumber) override;
  void Close() override;
  void Receive(int pause_ms) override;
  const _CAN_MessageEvent* Front() override;
  void Pop() override;
};
