#pragma once
// Sends a device's periodic status frames on time. Every frame type has its own schedule: the
// first goes out at power-up, then one each period, on the grid set at power-up (a late poll
// sends one frame, never a burst to catch up). The frames are packed from the device's state
// at the moment they go out, and scrambled with a mode that follows the device's policy.
// Not thread-safe: the robot's simulation thread drives it.
#include <array>
#include <cstdint>

#include "sim/device_attributes.h"
#include "sim/frame_sink.h"
#include "sim/status_frames.h"

namespace quor::tessera::sim {

class StatusBroadcaster {
 public:
  static constexpr uint64_t kNever = UINT64_MAX;

  StatusBroadcaster(FrameSink& sink, DeviceFamily family);

  void start(uint64_t now_us);
  void stop();
  bool running() const { return running_; }

  // Sends every frame that is due by `now_us`.
  void poll(const DeviceAttributes& device, uint64_t now_us);
  // When the next frame the device actually sends is due (omitted frames never wake anyone).
  uint64_t nextDeadline_us(const BroadcastOptions& options) const;

 private:
  static bool Omitted(const BroadcastOptions& options, uint16_t api);
  static uint8_t ModeFor(ScramblePolicy policy, uint32_t sequence);
  void send(const DeviceAttributes& device, const StatusFrameType& type, uint32_t sequence);

  FrameSink& sink_;
  const uint8_t deviceType_;
  const StatusFrameTable table_;
  bool running_ = false;
  std::array<uint64_t, kMaxStatusFrames> due_us_{};
  std::array<uint32_t, kMaxStatusFrames> sent_{};
};

}  // namespace quor::tessera::sim
