#pragma once
// The motor controller's control frame as its firmware reads it: parsed into a plain record
// before anything acts on it, and refused when its check bit (d6 bit 4) does not match the
// other 63 bits under the mapping both sides share, or when a bit outside every field is set.
#include <cstdint>

#include "canmux/can_stream_message.h"

namespace quor::tessera::sim {

struct ControlCommand {
  int32_t demand0 = 0;  // signed 24 bits (d0, d1, d2)
  int32_t demand1 = 0;  // signed 18 bits (d3, d4, d5 bits 7-6)
  uint8_t controlMode = 0;
  bool voltageCompensation = false;
  bool overrideSensorPhase = false;
  bool overrideInvert = false;
  bool invertStrategy = false;
  bool auxPid = false;
  bool demand1IsFeedForward = false;
  uint8_t profileSlot0 = 0;
  uint8_t profileSlot1 = 0;
  bool currentLimit = false;
  bool invertDirection = false;
  bool sensorPhase0 = false;
};

// The check bit the frame's other 63 bits call for.
bool ExpectedCheckBit(const uint8_t* data);
// False (and `out` untouched) when the frame is not eight bytes long, its check bit is wrong
// or it sets a bit that no field uses.
bool ParseControlFrame(const CanStreamMessage& frame, ControlCommand* out);

}  // namespace quor::tessera::sim
