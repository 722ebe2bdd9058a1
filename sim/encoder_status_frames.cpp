// Status frames of the CAN magnetic encoder.
#include <cmath>

#include "sim/status_frame_fields.h"
#include "sim/status_frames.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr double kBatteryVoltsPerUnit = 0.05;
constexpr double kBatteryOffset_V = 4.0;
constexpr int kCoefficientFractionBits = 27;
constexpr int32_t kMaxCoefficient = (1 << 29) - 1;
constexpr int32_t kMaxByte = 0xFF;

bool PackStatus1(const DeviceAttributes& device, uint8_t* d) {
  const EncoderState& e = device.state.encoder;
  PutStreamBits(d, 0, 27, static_cast<uint32_t>(SaturateSigned(e.position, 27)));
  PutStreamBits(d, 27, 19, static_cast<uint32_t>(SaturateSigned(e.velocity, 19)));
  PutFlag(d[5], 1, e.absoluteSigned);
  PutStreamBits(d, 48, 12, static_cast<uint32_t>(e.absolutePosition));  // d6, d7 bits 7-4
  return true;
}

bool PackStatus2(const DeviceAttributes& device, uint8_t* d) {
  const EncoderState& e = device.state.encoder;
  d[0] = static_cast<uint8_t>(
      ToUnits(e.batteryVoltage_V, kBatteryVoltsPerUnit, kBatteryOffset_V, 0, kMaxByte));
  PutBits(d[1], 4, 2, static_cast<uint32_t>(e.powerOnBehaviour));
  PutBits(d[1], 6, 2, static_cast<uint32_t>(e.magnetHealth));
  PutFlag(d[2], 5, e.frcLocked);
  PutFlag(d[2], 7, e.robotEnabled);
  return false;
}

bool PackNothing(const DeviceAttributes&, uint8_t*) { return false; }

// The unit text as stored, zero-filled after it.
bool PackUnit(const DeviceAttributes& device, uint8_t* d) {
  const std::string& unit = device.state.encoder.unit;
  for (size_t i = 0; i < unit.size() && i < kEncoderUnitBytes; ++i) {
    d[i] = static_cast<uint8_t>(unit[i]);
  }
  return false;
}

// Units per count as a 29-bit count of 2^-27 (d0, d1, d2, d3 bits 7-3).
bool PackCoefficient(const DeviceAttributes& device, uint8_t* d) {
  const EncoderState& e = device.state.encoder;
  const double scale = std::ldexp(1.0, kCoefficientFractionBits);
  PutStreamBits(d, 0, 29,
                static_cast<uint32_t>(ToUnits(e.coefficient * scale, 1.0, 0, kMaxCoefficient)));
  PutBits(d[7], 2, 2, static_cast<uint32_t>(e.velocityTimeBase));
  return false;
}

constexpr ScrambleRoutine kPlain = ScrambleRoutine::kNone;

constexpr StatusFrameType kEncoder[] = {
    {wire::kEncoderStatus1Api, 10, PackStatus1, ScrambleRoutine::kEncoder, wire::kModeBitLow},
    {wire::kEncoderStatus2Api, 100, PackStatus2, kPlain, 0},
    {wire::kEncoderStatus3Api, 100, PackNothing, kPlain, 0},
    {wire::kEncoderUnitApi, 100, PackUnit, kPlain, 0},
    {wire::kEncoderCoefficientApi, 100, PackCoefficient, kPlain, 0},
};

}  // namespace

StatusFrameTable EncoderStatusFrames() {
  return {kEncoder, sizeof kEncoder / sizeof kEncoder[0]};
}

}  // namespace quor::tessera::sim
