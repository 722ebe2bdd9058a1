#include "live/control_frame.h"

#include <cstring>

#include "core/device_firmware_constants.h"

namespace quor::tessera::diagnostics {

namespace {

namespace fc = core::firmware_constants;

// How a field reads its value: as a two's-complement number (the demands) or a plain one.
enum class Range : uint8_t { kUnsigned, kSigned };

// One request key's bits in the frame: bits [valueShift, valueShift + width) of its value go to
// bits [lowBit, lowBit + width) of the byte. A key that spans bytes has a row per byte, and its
// field is as wide as its rows together.
struct FieldPlacement {
  const char* key;
  Range range;
  uint8_t byte;
  uint8_t lowBit;
  uint8_t width;
  uint8_t valueShift;
};

constexpr FieldPlacement kControlFields[] = {
    {"demand0", Range::kSigned, 0, 0, 8, 16},  // 24 bits, most significant byte first
    {"demand0", Range::kSigned, 1, 0, 8, 8},
    {"demand0", Range::kSigned, 2, 0, 8, 0},
    // 18 bits: 17..10, 9..2, then 1..0 in d5's top bits
    {"demand1", Range::kSigned, 3, 0, 8, 10},
    {"demand1", Range::kSigned, 4, 0, 8, 2},
    {"demand1", Range::kSigned, 5, 6, 2, 0},
    {"controlmode", Range::kUnsigned, 5, 0, 4, 0},
    {"enablevoltagecompen", Range::kUnsigned, 5, 4, 1, 0},
    {"overridesensorphase", Range::kUnsigned, 6, 0, 1, 0},
    {"overrideinvert", Range::kUnsigned, 6, 1, 1, 0},
    {"invertstrategy", Range::kUnsigned, 6, 2, 1, 0},
    {"enableauxpid1", Range::kUnsigned, 6, 5, 1, 0},
    {"enablearbfeedfwddem1", Range::kUnsigned, 6, 6, 1, 0},
    {"profileslotselect0", Range::kUnsigned, 7, 0, 2, 0},
    {"profileslotselect1", Range::kUnsigned, 7, 2, 2, 0},
    {"encurrentlimit", Range::kUnsigned, 7, 4, 1, 0},
    {"invertdirection", Range::kUnsigned, 7, 6, 1, 0},
    {"sensorphase0", Range::kUnsigned, 7, 7, 1, 0},
};

constexpr uint8_t kNibble = 0x0F;

// The width of `key`'s whole field: its rows together.
int FieldWidth(const char* key) {
  int width = 0;
  for (const FieldPlacement& row : kControlFields)
    if (std::strcmp(row.key, key) == 0) width += row.width;
  return width;
}

// Whether the field of `row`'s key holds `value` as it stands.
bool Holds(const FieldPlacement& row, int32_t value) {
  const int width = FieldWidth(row.key);
  const int64_t lowest = row.range == Range::kSigned ? -(int64_t{1} << (width - 1)) : 0;
  const int64_t highest =
      row.range == Range::kSigned ? (int64_t{1} << (width - 1)) - 1 : (int64_t{1} << width) - 1;
  return value >= lowest && value <= highest;
}

}  // namespace

std::optional<ControlFrameBytes> PackControlFrame(const utility::ParameterMap& params) {
  ControlFrameBytes frame{};
  for (const FieldPlacement& field : kControlFields) {
    const int32_t value = utility::LookupIntValue(params, field.key, 0);
    // A demand that wrapped would drive the motor the other way, a mode that wrapped would be
    // another mode: a value its field cannot hold is refused, never cut.
    if (!Holds(field, value)) return std::nullopt;
    // Unsigned from here on: a negative demand keeps its two's-complement low bits.
    const uint32_t bits =
        (static_cast<uint32_t>(value) >> field.valueShift) & ((1u << field.width) - 1u);
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
