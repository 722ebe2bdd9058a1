#pragma once
// A device's periodic side while its application runs: it broadcasts the family's status frames
// and, for a motor controller, obeys control frames (under the enable frame) with its simulated
// motor, whose motion the status frames then report.
// Not thread-safe: the robot's simulation thread drives it.
#include <cstdint>

#include "canmux/can_stream_message.h"
#include "sim/device_attributes.h"
#include "sim/frame_sink.h"
#include "sim/motor_model.h"
#include "sim/status_broadcaster.h"

namespace quor::tessera::sim {

class StatusAndControl {
 public:
  StatusAndControl(FrameSink& sink, DeviceFamily family);

  // Power-up of the application: first status frames at `now_us`, no command, no enable.
  void start(uint64_t now_us);
  void stop();

  // Takes the enable frame and the device's own control frame; true when `frame` was one of
  // them (a control frame with a wrong check bit is taken and ignored).
  bool onFrame(const CanStreamMessage& frame, DeviceAttributes& device, uint64_t now_us);
  void poll(DeviceAttributes& device, uint64_t now_us);
  uint64_t nextDeadline_us(const DeviceAttributes& device) const;

  uint32_t controlFramesAccepted() const { return accepted_; }
  uint32_t controlFramesRejected() const { return rejected_; }

 private:
  const uint8_t deviceType_;
  const bool isMotorController_;
  bool running_ = false;
  StatusBroadcaster broadcaster_;
  MotorModel motor_;
  uint32_t accepted_ = 0;
  uint32_t rejected_ = 0;
};

}  // namespace quor::tessera::sim
