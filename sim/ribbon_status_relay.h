#pragma once
// The status frames of an IMU on a motor controller's ribbon cable reach the bus through that
// controller: it passes each one on under its own device type and number, the IMU's API value
// kept, as the IMU has no bus identity of its own. Until the IMU is on a cable its frames go
// out unchanged.
#include "sim/frame_sink.h"

namespace quor::tessera::sim {

class SimDevice;

class RibbonStatusRelay : public FrameSink {
 public:
  explicit RibbonStatusRelay(FrameSink& bus) : bus_(bus) {}

  // From now on frames go out as `host`'s, which must outlive this relay.
  void routeThrough(const SimDevice& host) { host_ = &host; }
  void sendFrame(const CanStreamMessage& frame) override;

 private:
  FrameSink& bus_;
  const SimDevice* host_ = nullptr;
};

}  // namespace quor::tessera::sim
