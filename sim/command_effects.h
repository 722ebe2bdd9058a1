#pragma once
// What the one-shot commands leave on a simulated device, where a tester can see it: the LED
// blinking, the sticky faults of the device's status state cleared, factory defaults restored,
// a calibration started. Each command has its own effect, so an engine that sends the wrong one
// is caught by the state it leaves, not only by the answer it gets.
//
// The ISO-15765 commands reach it through SimDevice; the raw frames of the families that clear
// their sticky faults without ISO-15765 (power-distribution panel, pneumatics module, IMU) and
// the IMU's calibration frame it reads itself. Not thread-safe: the robot's thread drives it.
#include <cstdint>

#include "canmux/can_stream_message.h"
#include "sim/device_attributes.h"
#include "sim/device_state.h"

namespace quor::tessera::sim {

class CommandEffects {
 public:
  // How long the LED blinks after a blink command.
  static constexpr uint64_t kBlinkDuration_us = 2000000;

  explicit CommandEffects(DeviceFamily family) : family_(family) {}

  // True when the family clears its sticky faults with "C5 00" over ISO-15765.
  bool clearsStickyFaultsOverIso() const;
  // The raw sticky-fault clear or calibration frame for this device (its family, `deviceNumber`);
  // true when `frame` was one (taken, or ignored as malformed). Acts on the device's `state`.
  bool onRawFrame(const CanStreamMessage& frame, uint8_t deviceNumber, DeviceState& state);

  void blink(uint64_t now_us);
  // Clears the sticky faults the family's status frames report (the encoder and the I/O board
  // report none) and counts the clear.
  void clearStickyFaults(DeviceState& state);
  void restoreFactoryDefaults();

  uint32_t ledBlinks() const { return ledBlinks_; }
  bool ledBlinking(uint64_t now_us) const { return ledBlinks_ > 0 && now_us < blinkUntil_us_; }
  uint32_t stickyFaultClears() const { return stickyFaultClears_; }
  uint32_t factoryDefaults() const { return factoryDefaults_; }
  uint32_t calibrationsStarted() const { return calibrationsStarted_; }

 private:
  DeviceFamily family_;
  uint32_t ledBlinks_ = 0;
  uint64_t blinkUntil_us_ = 0;
  uint32_t stickyFaultClears_ = 0;
  uint32_t factoryDefaults_ = 0;
  uint32_t calibrationsStarted_ = 0;
};

}  // namespace quor::tessera::sim
