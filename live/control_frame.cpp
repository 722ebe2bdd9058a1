#include "live/control_frame.h"

#include "core/device_firmware_constants.h"

namespace quor::tessera::diagnostics {

namespace {

namespace fc = core::firmware_constants;

// One request key's bits in the frame: bits [valueShift, valueShift + width) of its value go to
// bits [lowBit, lowBit + width) of the byte. A key that spans bytes has a row per byte.
struct FieldPlacement {
  const char* key;
  uint8_t byte;
  uint8_t lowBit;
  uint8_t width;
  uint8_t valueShift;
};

constexpr FieldPlacement kControlFields[] = {
    {"demand0", 0, 0, 8, 16},  // 24 bits, most significant byte first
    {"demand0", 1, 0, 8, 8},
    {"demand0", 2, 0, 8, 0},
    {"demand1", 3, 0, 8, 10},  // 18 bits: 17..10, 9..2, then 1..0 in d5's top bits
    {"demand1", 4, 0, 8, 2},
    {"demand1", 5, 6, 2, 0},
    {"controlmode", 5, 0, 4, 0},
    {"enablevoltagecompen", 5, 4, 1, 0},
    {"overridesensorphase", 6, 0, 1, 0},
    {"overrideinvert", 6, 1, 1, 0},
    {"invertstrategy", 6, 2, 1, 0},
    {"enableauxpid1", 6, 5, 1, 0},
    {"enablearbfeedfwddem1", 6, 6, 1, 0},
    {"profileslotselect0", 7, 0, 2, 0},
    {"profileslotselect1", 7, 2, 2, 0},
    {"encurrentlimit", 7, 4, 1, 0},
    {"invertdirection", 7, 6, 1, 0},
    {"sensorphase0", 7, 7, 1, 0},
};

constexpr uint8_t kNibble = 0x0F;

}  // namespace

ControlFrameBytes PackControlFrame(const utility::ParameterMap& params) {
  ControlFrameBytes frame{};
  for (const FieldPlacement& field : kControlFields) {
    // Unsigned from here on: a negative value keeps its two's-complement low bits.
    const auto value = static_cast<uint32_t>(utility::LookupIntValue(params, field.key, 0));
    const uint32_t bits = (value >> field.valueShift) & ((1u << field.width) - 1u);
    frame[field.byte] = static_cast<uint8_t>(frame[field.byte] | (bits << field.lowBit));
  }
  return frame;
}

ControlFrameBytes WithCheckBit(ControlFrameBytes frame) {
  frame[fc::kCheckBitByte] = static_cast<uint8_t>(frame[fc::kCheckBitByte] & ~fc::kCheckBitMask);
  uint8_t x = 0;
  for (const uint8_t byte : frame) x ^= byte;
  const unsigned n = ((static_cast<unsigned>(x >> 4) ^ (x & kNibble)) ^ fc::kCheckFoldMix) & kNibble;
  if ((fc::kCheckBitTable >> n) & 1u)
    frame[fc::kCheckBitByte] = static_cast<uint8_t>(frame[fc::kCheckBitByte] | fc::kCheckBitMask);
  return frame;
}

}  // namespace quor::tessera::diagnostics
