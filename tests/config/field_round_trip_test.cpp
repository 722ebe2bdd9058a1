// Every numeric field of every model (the unit text aside), over its raw range: reading a raw
// field and writing the value back gives the same raw field (a document sent back unchanged
// changes nothing, however often), the value read is the one the device's image map defines,
// and a value between two that the field holds is written as the nearer one. Positions and
// decodings are the image map's, written here independently of the group tables.
//
// Ranges: all of a field whose codes are few (flags, output fractions, ramp codes up to 1023);
// for 32-bit fields every raw value in a window around 0 (for times, the first 262,144 ms), the
// 4,096 at each end of the field's range and a sample across all of it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "config/image_fields.h"
#include "config/top_level_groups.h"

using namespace quor::tessera::diagnostics::config2;

namespace {

enum class Decoding {
  Signed,           // the signed field x scale
  Unsigned,         // the unsigned field x scale
  Flag,             // non-zero is true (1.0)
  InvertedFlag,     // zero is true
  SignedThrottle,   // signed field, limited to +-1023, / 1023
  UnsignedThrottle, // unsigned field, limited to 1023, / 1023
  Ramp,             // 0: no ramp; else 10.23 s / field
};

// A range of raw fields, as signed or unsigned 64-bit numbers (inclusive).
struct RawRange {
  int64_t first;
  int64_t last;
};

struct FieldUnderTest {
  const char* name;  // for the failure message
  ConfigValueGroup* group;
  const char* key;
  uint32_t position;
  Decoding decoding;
  double scale;
  std::vector<RawRange> ranges;
  bool typedAsInteger;  // a document key of integer type: no value between two raw fields
};

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t kWindow = 1 << 14;
constexpr int64_t kEnd = 4096;
constexpr int64_t kSampleStep = 262147;  // about 16,000 raw fields across 32 bits

std::vector<RawRange> SignedRange(int64_t window = kWindow) {
  std::vector<RawRange> ranges = {{-window, window}, {kInt32Min, kInt32Min + kEnd}, {kInt32Max - kEnd, kInt32Max}};
  for (int64_t raw = kInt32Min; raw <= kInt32Max; raw += kSampleStep) ranges.push_back({raw, raw});
  return ranges;
}

std::vector<RawRange> UnsignedRange(int64_t window = kWindow) {
  std::vector<RawRange> ranges = {{0, window}, {kUInt32Max - kEnd, kUInt32Max}};
  for (int64_t raw = 0; raw <= kUInt32Max; raw += kSampleStep) ranges.push_back({raw, raw});
  return ranges;
}

double Decode(const FieldUnderTest& field, uint32_t raw) {
  const int32_t signedRaw = static_cast<int32_t>(raw);
  switch (field.decoding) {
    case Decoding::Signed:
      return signedRaw * field.scale;
    case Decoding::Unsigned:
      return raw * field.scale;
    case Decoding::Flag:
      return raw != 0 ? 1.0 : 0.0;
    case Decoding::InvertedFlag:
      return raw == 0 ? 1.0 : 0.0;
    case Decoding::SignedThrottle:
      return std::min<int32_t>(std::max<int32_t>(signedRaw, -1023), 1023) / 1023.0;
    case Decoding::UnsignedThrottle:
      return std::min<uint32_t>(raw, 1023) / 1023.0;
    case Decoding::Ramp:
      return raw == 0 ? 0.0 : 1023.0 / (raw * 100.0);
  }
  return 0;
}

// The raw field the group writes for `value` (into a scratch image).
uint32_t Written(const FieldUnderTest& field, double value, ConfigByteArray& scratch) {
  field.group->Set(field.key, value);
  field.group->Serialize(scratch);
  return ReadImageField(scratch, field.position);
}

// Checks every raw field of the ranges; the number of failures, the first ones described.
int CheckField(const FieldUnderTest& field, std::string& firstFailures) {
  int failures = 0;
  const auto fail = [&](const std::string& what) {
    if (++failures <= 3)
      firstFailures += std::string(field.name) + " at " + std::to_string(field.position) + ": " + what + "\n";
  };
  ConfigByteArray image = ConfigByteArray{};
  ConfigByteArray scratch = ConfigByteArray{};
  for (const RawRange& range : field.ranges) {
    for (int64_t wide = range.first; wide <= range.last; ++wide) {
      const uint32_t raw = static_cast<uint32_t>(wide);
      WriteImageField(image, field.position, raw);
      field.group->Deserialize(image);
      const double value = field.group->Get(field.key);
      if (value != Decode(field, raw)) fail("raw " + std::to_string(wide) + " reads " + std::to_string(value));
      const uint32_t back = Written(field, value, scratch);
      if (back != raw) fail("raw " + std::to_string(wide) + " is written back as " + std::to_string(back));
      // Between this raw field and the next, a typed value goes to the nearer of the two. (Ramp
      // 0, no ramp, reads 0 s and is no neighbour of ramp 1, 10.23 s.)
      if (field.typedAsInteger || wide == range.last || (field.decoding == Decoding::Ramp && raw == 0)) continue;
      const uint32_t next = raw + 1;
      const double step = Decode(field, next) - value;
      if (Written(field, value + 0.25 * step, scratch) != raw) fail("a quarter past raw " + std::to_string(wide));
      if (Written(field, value + 0.75 * step, scratch) != next) fail("three quarters past raw " + std::to_string(wide));
    }
  }
  return failures;
}

}  // namespace

TEST(FieldRoundTrip, EveryFieldGivesBackItsRawValueAndTakesTheNearestOne) {
  MotorControllerGroup kx;
  KestrelKFGroup kf;
  CANdialGroup candial;
  WrenIMUGroup wren;
  using D = Decoding;
  constexpr double k10dot22 = 1.0 / 4194304;
  const std::vector<RawRange> flag = {{0, 1}};
  const std::vector<RawRange> signedThrottle = {{-1023, 1023}};
  const std::vector<RawRange> forwardThrottle = {{0, 1023}};
  const std::vector<RawRange> reverseThrottle = {{-1023, 0}};
  std::vector<RawRange> ramp = UnsignedRange();
  ramp.push_back({0, 1023});

  std::vector<FieldUnderTest> fields = {
      {"neutral mode", &kx.motorOutput, "Neutral Mode", 4, D::Signed, 1, SignedRange(), true},
      {"neutral deadband", &kx.motorOutput, "Neutral Deadband", 132, D::SignedThrottle, 1, signedThrottle, false},
      {"open loop ramp", &kx.motorOutput, "Open Loop Ramp", 124, D::Ramp, 1, ramp, false},
      {"peak forward", &kx.motorOutput, "Peak Forward Output", 32, D::SignedThrottle, 1, forwardThrottle, false},
      {"peak reverse", &kx.motorOutput, "Peak Reverse Output", 40, D::SignedThrottle, 1, reverseThrottle, false},
      {"nominal forward", &kx.motorOutput, "Nominal Forward Output", 36, D::SignedThrottle, 1, forwardThrottle, false},
      {"nominal reverse", &kx.motorOutput, "Nominal Reverse Output", 44, D::SignedThrottle, 1, reverseThrottle, false},
      {"peak current", &kx.currentLimit, "Peak Current Limit", 112, D::Unsigned, 1, UnsignedRange(), false},
      {"peak duration", &kx.currentLimit, "Peak Current Duration", 116, D::Unsigned, 1, UnsignedRange(), false},
      {"continuous current", &kx.currentLimit, "Continuous Current Limit", 120, D::Unsigned, 1, UnsignedRange(), false},
      {"supply enable", &kf.supplyCurrentLimit, "Enable", 356, D::Flag, 1, flag, true},
      {"supply limit", &kf.supplyCurrentLimit, "Current Limit", 120, D::Unsigned, 1, UnsignedRange(), false},
      {"supply threshold", &kf.supplyCurrentLimit, "Trigger Threshold Current", 112, D::Unsigned, 1, UnsignedRange(), false},
      {"supply time", &kf.supplyCurrentLimit, "Trigger Threshold Time", 116, D::Unsigned, 0.001, UnsignedRange(1 << 18), false},
      {"stator enable", &kf.statorCurrentLimit, "Enable", 372, D::Flag, 1, flag, true},
      {"stator limit", &kf.statorCurrentLimit, "Current Limit", 368, D::Unsigned, 1, UnsignedRange(), false},
      {"stator threshold", &kf.statorCurrentLimit, "Trigger Threshold Current", 360, D::Unsigned, 1, UnsignedRange(), false},
      {"stator time", &kf.statorCurrentLimit, "Trigger Threshold Time", 364, D::Unsigned, 0.001, UnsignedRange(1 << 18), false},
      {"voltage", &kx.voltageComp, "Voltage Compensation Saturation", 48, D::Unsigned, 1.0 / 256, UnsignedRange(), false},
      {"limit forward", &kx.hardLimitSwitch, "Limit Forward", 8, D::Signed, 1, SignedRange(), true},
      {"limit reverse device", &kx.hardLimitSwitch, "Limit Reverse Device ID", 92, D::Signed, 1, SignedRange(), true},
      {"soft forward enable", &kx.softLimitSwitch, "Forward Soft Limit Enable", 24, D::Flag, 1, flag, true},
      {"soft forward", &kx.softLimitSwitch, "Soft Limit Forward Value", 16, D::Signed, 1, SignedRange(), false},
      {"soft reverse", &kx.softLimitSwitch, "Soft Limit Reverse Value", 20, D::Signed, 1, SignedRange(), false},
      {"cruise", &kx.motionMagic, "Cruise Velocity", 300, D::Unsigned, 1, UnsignedRange(), false},
      {"acceleration", &kx.motionMagic, "Acceleration", 304, D::Unsigned, 1, UnsignedRange(), false},
      {"curve", &kx.motionMagic, "Curve Strength", 352, D::Signed, 1, SignedRange(), true},
      {"trajectory period", &kx.motionProfile, "Base Trajectory Period Ms", 308, D::Signed, 1, SignedRange(), true},
      {"interpolation", &kx.motionProfile, "Trajectory Interpolation Enable", 312, D::InvertedFlag, 1, flag, true},
      {"closed loop ramp", &kx.closedLoop, "Closed Loop Ramp", 128, D::Ramp, 1, ramp, false},
      {"pid 0 sensor", &kx.closedLoop, "PID 0 Primary Feedback Sensor", 64, D::Signed, 1, SignedRange(), true},
      {"pid 0 coefficient", &kx.closedLoop, "PID 0 Primary Sensor Coefficient", 72, D::Unsigned, 1.0 / 65536, UnsignedRange(), false},
      {"pid 1 coefficient", &kx.closedLoop, "PID 1 Aux Sensor Coefficient", 76, D::Unsigned, 1.0 / 65536, UnsignedRange(), false},
      {"pid 1 polarity", &kx.closedLoop, "PID 1 Polarity", 280, D::Flag, 1, flag, true},
      {"remote filter", &kx.remoteSensor, "Filter 1 Source", 296, D::Signed, 1, SignedRange(), true},
      {"remote neutral", &kx.remoteSensor, "Neutral If Missing Remote Soft Limit", 340, D::InvertedFlag, 1, flag, true},
      {"diff term", &kx.remoteSensor, "Diff Term 1", 108, D::Signed, 1, SignedRange(), true},
      {"clear on quad index", &kx.homeSensor, "Clear Pos On Quad Index", 332, D::Flag, 1, flag, true},
      {"velocity window", &kx.advancedSensorMeas, "Velocity Window", 56, D::Signed, 1, SignedRange(), true},
      {"not continuous", &kx.advancedSensorMeas, "Feedback Not Continuous", 316, D::Flag, 1, flag, true},
      {"custom param", &kf.customParams, "Custom Param 1", 396, D::Signed, 1, SignedRange(), true},
      {"sensor offset", &kf.integratedSensor, "Sensor Offset (deg)", 408, D::Signed, 1, SignedRange(), false},
      {"sensor range", &kf.integratedSensor, "Absolute Sensor Range", 400, D::Signed, 1, SignedRange(), true},
      {"candial direction", &candial.integratedSensor, "Sensor Direction", 12, D::Flag, 1, flag, true},
      {"magnet offset", &candial.integratedSensor, "Magnet Offset (deg)", 16, D::Signed, 360.0 / 4096, SignedRange(), false},
      {"candial velocity period", &candial.advancedSensorMeas, "Velocity Period", 20, D::Unsigned, 1, UnsignedRange(), true},
      {"candial coefficient", &candial.unitCoeff, "Sensor Coefficient", 44, D::Unsigned, 1.0 / 134217728, UnsignedRange(), false},
      {"candial time base", &candial.unitCoeff, "Sensor Time Base", 48, D::Signed, 1, SignedRange(), true},
      {"candial custom param", &candial.customParams, "Custom Param 0", 28, D::Signed, 1, SignedRange(), true},
      {"limit reverse", &kx.hardLimitSwitch, "Limit Reverse", 12, D::Signed, 1, SignedRange(), true},
      {"limit forward source", &kx.hardLimitSwitch, "Limit Forward Source", 80, D::Signed, 1, SignedRange(), true},
      {"limit reverse source", &kx.hardLimitSwitch, "Limit Reverse Source", 84, D::Signed, 1, SignedRange(), true},
      {"limit forward device", &kx.hardLimitSwitch, "Limit Forward Device ID", 88, D::Signed, 1, SignedRange(), true},
      {"soft reverse enable", &kx.softLimitSwitch, "Reverse Soft Limit Enable", 28, D::Flag, 1, flag, true},
      {"pid 1 sensor", &kx.closedLoop, "PID 1 Aux Feedback Sensor", 68, D::Signed, 1, SignedRange(), true},
      {"filter 0 device", &kx.remoteSensor, "Filter 0 Device ID", 284, D::Signed, 1, SignedRange(), true},
      {"filter 1 device", &kx.remoteSensor, "Filter 1 Device ID", 288, D::Signed, 1, SignedRange(), true},
      {"filter 0 source", &kx.remoteSensor, "Filter 0 Source", 292, D::Signed, 1, SignedRange(), true},
      {"remote sensor neutral", &kx.remoteSensor, "Neutral If Missing Remote Sensor Dur Closed Loop", 320, D::InvertedFlag, 1, flag, true},
      {"remote switch neutral", &kx.remoteSensor, "Neutral If Missing Remote Limit Switch", 336, D::InvertedFlag, 1, flag, true},
      {"sum term 0", &kx.remoteSensor, "Sum Term 0", 96, D::Signed, 1, SignedRange(), true},
      {"sum term 1", &kx.remoteSensor, "Sum Term 1", 100, D::Signed, 1, SignedRange(), true},
      {"diff term 0", &kx.remoteSensor, "Diff Term 0", 104, D::Signed, 1, SignedRange(), true},
      {"clear on forward", &kx.homeSensor, "Clear Pos On Forward Limit", 324, D::Flag, 1, flag, true},
      {"clear on reverse", &kx.homeSensor, "Clear Pos On Reverse Limit", 328, D::Flag, 1, flag, true},
      {"velocity period", &kx.advancedSensorMeas, "Velocity Period", 52, D::Signed, 1, SignedRange(), true},
      {"voltage filter", &kx.advancedSensorMeas, "Voltage Meas Filter", 60, D::Signed, 1, SignedRange(), true},
      {"pulse width edges", &kx.advancedSensorMeas, "Pulse Width Edges Per Rotation", 344, D::Signed, 1, SignedRange(), true},
      {"pulse width window", &kx.advancedSensorMeas, "Pulse Width Filter Window", 348, D::Signed, 1, SignedRange(), true},
      {"kf custom param 0", &kf.customParams, "Custom Param 0", 392, D::Signed, 1, SignedRange(), true},
      {"kf sensor strategy", &kf.integratedSensor, "Sensor Initialization Strategy", 404, D::Signed, 1, SignedRange(), true},
      {"candial sensor range", &candial.integratedSensor, "Absolute Sensor Range", 4, D::Signed, 1, SignedRange(), true},
      {"candial sensor strategy", &candial.integratedSensor, "Sensor Initialization Strategy", 8, D::Signed, 1, SignedRange(), true},
      {"candial velocity window", &candial.advancedSensorMeas, "Velocity Window", 24, D::Unsigned, 1, UnsignedRange(), true},
      {"candial custom param 1", &candial.customParams, "Custom Param 1", 32, D::Signed, 1, SignedRange(), true},
      {"wren invert", &wren.general, "Invert", 124, D::Signed, 1, SignedRange(), true},
  };
  // Every slot's fields, at 136 + 36 x slot.
  for (uint32_t k = 0; k < 4; ++k) {
    const uint32_t base = 136 + 36 * k;
    SlotGroup* slot = &kx.slots[k];
    fields.push_back({"kP", slot, "kP", base, D::Unsigned, k10dot22, UnsignedRange(), false});
    fields.push_back({"kI", slot, "kI", base + 4, D::Unsigned, k10dot22, UnsignedRange(), false});
    fields.push_back({"kD", slot, "kD", base + 8, D::Unsigned, k10dot22, UnsignedRange(), false});
    fields.push_back({"kF", slot, "kF", base + 12, D::Signed, k10dot22, SignedRange(), false});
    fields.push_back({"I Zone", slot, "I Zone", base + 16, D::Unsigned, 1, UnsignedRange(), false});
    fields.push_back({"Allowable Error", slot, "Allowable Error", base + 20, D::Unsigned, 1, UnsignedRange(), false});
    fields.push_back({"Max Integral Accum", slot, "Max Integral Accum", base + 24, D::Unsigned, 1, UnsignedRange(), false});
    fields.push_back({"Peak Output", slot, "Peak Output", base + 28, D::UnsignedThrottle, 1, forwardThrottle, false});
    fields.push_back({"Loop Period Ms", slot, "Loop Period Ms", base + 32, D::Unsigned, 1, UnsignedRange(), true});
  }
  std::string firstFailures;
  int failures = 0;
  for (const FieldUnderTest& field : fields) failures += CheckField(field, firstFailures);
  EXPECT_EQ(failures, 0) << firstFailures;
}
