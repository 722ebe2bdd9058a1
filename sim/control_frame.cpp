#include "sim/control_frame.h"

#include "core/device_firmware_constants.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

namespace fc = core::firmware_constants;

constexpr int kDemand0Bits = 24;
constexpr int kDemand1Bits = 18;
constexpr uint8_t kNibble = 0x0F;
// Bits no field uses (d5 bit 5, d6 bits 3 and 7, d7 bit 5): a frame that sets one was not
// packed by the layout this firmware reads, so it is not obeyed.
constexpr uint8_t kReservedBits[wire::kControlFrameLength] = {0, 0, 0, 0, 0, 0x20, 0x88, 0x20};

int32_t SignExtend(uint32_t value, int bits) {
  const uint32_t sign = 1u << (bits - 1);
  const uint32_t masked = value & ((1u << bits) - 1u);
  return static_cast<int32_t>(masked ^ sign) - static_cast<int32_t>(sign);
}

bool Bit(uint8_t byte, int bit) { return ((byte >> bit) & 1u) != 0; }

}  // namespace

bool ExpectedCheckBit(const uint8_t* data) {
  uint8_t folded = 0;
  for (int i = 0; i < wire::kControlFrameLength; ++i) {
    folded ^= i == fc::kCheckBitByte ? static_cast<uint8_t>(data[i] & ~fc::kCheckBitMask)
                                     : data[i];
  }
  const uint8_t index =
      static_cast<uint8_t>(((folded >> 4) ^ (folded & kNibble)) ^ fc::kCheckFoldMix) & kNibble;
  return ((fc::kCheckBitTable >> index) & 1u) != 0;
}

bool ParseControlFrame(const CanStreamMessage& frame, ControlCommand* out) {
  if (frame.dataSize != wire::kControlFrameLength) return false;
  const uint8_t* d = frame.data;
  const bool checkBit = (d[fc::kCheckBitByte] & fc::kCheckBitMask) != 0;
  if (checkBit != ExpectedCheckBit(d)) return false;
  for (int i = 0; i < wire::kControlFrameLength; ++i)
    if ((d[i] & kReservedBits[i]) != 0) return false;
  ControlCommand c;
  c.demand0 = SignExtend(static_cast<uint32_t>(d[0] << 16 | d[1] << 8 | d[2]), kDemand0Bits);
  c.demand1 = SignExtend(static_cast<uint32_t>(d[3] << 10 | d[4] << 2 | d[5] >> 6), kDemand1Bits);
  c.controlMode = d[5] & kNibble;
  c.voltageCompensation = Bit(d[5], 4);
  c.overrideSensorPhase = Bit(d[6], 0);
  c.overrideInvert = Bit(d[6], 1);
  c.invertStrategy = Bit(d[6], 2);
  c.auxPid = Bit(d[6], 5);
  c.demand1IsFeedForward = Bit(d[6], 6);
  c.profileSlot0 = d[7] & 0x3;
  c.profileSlot1 = (d[7] >> 2) & 0x3;
  c.currentLimit = Bit(d[7], 4);
  c.invertDirection = Bit(d[7], 6);
  c.sensorPhase0 = Bit(d[7], 7);
  *out = c;
  return true;
}

}  // namespace quor::tessera::sim
