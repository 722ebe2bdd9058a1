#include "sim/config_document.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <optional>

#include "sim/family_traits.h"

namespace quor::tessera::sim {
namespace {

using nlohmann::json;

// How the firmware keeps a value in its 32-bit little-endian field.
enum class Coding : uint8_t {
  kWhole,          // the integer, signed
  kWholeUnsigned,  // the integer, unsigned
  kFlag,           // 1 for true
  kNotFlag,        // the field means the opposite: 1 for false
  kUnsignedScaled,   // value x scale, cut toward zero, unsigned
  kSignedScaled,     // value x scale, cut toward zero, signed
  kRoundedScaled,    // value x scale + 0.5, cut toward zero, signed
  kForwardFraction,  // 0..1 of full output in 1/1023 steps, to the nearest
  kReverseFraction,  // -1..0 of full output, kept negative
  kEitherFraction,   // -1..1 of full output, to the nearest away from zero
  kRampSeconds,      // seconds from neutral to full: output steps per 10 ms, at least 1
  kUnsignedGain,     // 22 fraction bits, magnitude rounded half up
  kSignedGain,
  kUnitText,         // up to 8 bytes over two fields, or a known unit's short code
  kNotKept,          // accepted in documents, not kept by this firmware
};

struct Field {
  const char* key;
  uint16_t position;  // from the group's base (slots) or from 0
  Coding coding;
  double scale;
};

struct Group {
  const char* type;
  const Field* fields;
  size_t count;
  bool slotted;  // "Ordinal" 0..3 picks one of four blocks
};

constexpr uint16_t kFieldBytes = 4;
constexpr uint16_t kSlotBase = 136;
constexpr uint16_t kSlotStride = 36;
constexpr int kSlots = 4;
constexpr double kFullOutput = 1023.0;
constexpr double kRampTicksPerSecond = 100.0;
constexpr double kGainScale = 4194304.0;  // 2^22
constexpr double kSignedGainLimit = 512.0;
constexpr double kUnsignedGainLimit = 1024.0;
constexpr size_t kUnitTextBytes = 8;

using C = Coding;

constexpr Field kMotorOutput[] = {
    {"Neutral Mode", 4, C::kWhole, 1},
    {"Neutral Deadband", 132, C::kEitherFraction, 1},
    {"Open Loop Ramp", 124, C::kRampSeconds, 1},
    {"Peak Forward Output", 32, C::kForwardFraction, 1},
    {"Peak Reverse Output", 40, C::kReverseFraction, 1},
    {"Nominal Forward Output", 36, C::kForwardFraction, 1},
    {"Nominal Reverse Output", 44, C::kReverseFraction, 1}};
constexpr Field kBrushedCurrentLimit[] = {
    {"Peak Current Limit", 112, C::kUnsignedScaled, 1},
    {"Peak Current Duration", 116, C::kUnsignedScaled, 1},
    {"Continuous Current Limit", 120, C::kUnsignedScaled, 1}};
constexpr Field kSupplyLimit[] = {
    {"Enable", 356, C::kFlag, 1},
    {"Current Limit", 120, C::kUnsignedScaled, 1},
    {"Trigger Threshold Current", 112, C::kUnsignedScaled, 1},
    {"Trigger Threshold Time", 116, C::kUnsignedScaled, 1000}};
constexpr Field kStatorLimit[] = {
    {"Enable", 372, C::kFlag, 1},
    {"Current Limit", 368, C::kUnsignedScaled, 1},
    {"Trigger Threshold Current", 360, C::kUnsignedScaled, 1},
    {"Trigger Threshold Time", 364, C::kUnsignedScaled, 1000}};
constexpr Field kVoltageComp[] = {{"Voltage Compensation Saturation", 48, C::kUnsignedScaled, 256}};
constexpr Field kHardLimits[] = {
    {"Limit Forward", 8, C::kWhole, 1},           {"Limit Reverse", 12, C::kWhole, 1},
    {"Limit Forward Source", 80, C::kWhole, 1},   {"Limit Reverse Source", 84, C::kWhole, 1},
    {"Limit Forward Device ID", 88, C::kWhole, 1}, {"Limit Reverse Device ID", 92, C::kWhole, 1}};
constexpr Field kSoftLimits[] = {
    {"Forward Soft Limit Enable", 24, C::kFlag, 1},
    {"Reverse Soft Limit Enable", 28, C::kFlag, 1},
    {"Soft Limit Forward Value", 16, C::kSignedScaled, 1},
    {"Soft Limit Reverse Value", 20, C::kSignedScaled, 1}};
constexpr Field kMotionMagic[] = {{"Cruise Velocity", 300, C::kUnsignedScaled, 1},
                                  {"Acceleration", 304, C::kUnsignedScaled, 1},
                                  {"Curve Strength", 352, C::kWhole, 1}};
constexpr Field kMotionProfile[] = {{"Base Trajectory Period Ms", 308, C::kWhole, 1},
                                    {"Trajectory Interpolation Enable", 312, C::kNotFlag, 1}};
constexpr Field kClosedLoop[] = {
    {"Closed Loop Ramp", 128, C::kRampSeconds, 1},
    {"PID 0 Primary Feedback Sensor", 64, C::kWhole, 1},
    {"PID 0 Primary Sensor Coefficient", 72, C::kUnsignedScaled, 65536},
    {"PID 1 Aux Feedback Sensor", 68, C::kWhole, 1},
    {"PID 1 Aux Sensor Coefficient", 76, C::kUnsignedScaled, 65536},
    {"PID 1 Polarity", 280, C::kFlag, 1}};
constexpr Field kSlot[] = {
    {"kP", 0, C::kUnsignedGain, 1},          {"kI", 4, C::kUnsignedGain, 1},
    {"kD", 8, C::kUnsignedGain, 1},          {"kF", 12, C::kSignedGain, 1},
    {"I Zone", 16, C::kUnsignedScaled, 1},   {"Allowable Error", 20, C::kUnsignedScaled, 1},
    {"Max Integral Accum", 24, C::kUnsignedScaled, 1},
    {"Peak Output", 28, C::kForwardFraction, 1},
    {"Loop Period Ms", 32, C::kWholeUnsigned, 1}};
constexpr Field kRemoteSensor[] = {
    {"Filter 0 Device ID", 284, C::kWhole, 1}, {"Filter 1 Device ID", 288, C::kWhole, 1},
    {"Filter 0 Source", 292, C::kWhole, 1},    {"Filter 1 Source", 296, C::kWhole, 1},
    {"Neutral If Missing Remote Sensor Dur Closed Loop", 320, C::kNotFlag, 1},
    {"Neutral If Missing Remote Limit Switch", 336, C::kNotFlag, 1},
    {"Neutral If Missing Remote Soft Limit", 340, C::kNotFlag, 1},
    {"Sum Term 0", 96, C::kWhole, 1},          {"Sum Term 1", 100, C::kWhole, 1},
    {"Diff Term 0", 104, C::kWhole, 1},        {"Diff Term 1", 108, C::kWhole, 1}};
constexpr Field kHomeWithIndex[] = {{"Clear Pos On Forward Limit", 324, C::kFlag, 1},
                                    {"Clear Pos On Reverse Limit", 328, C::kFlag, 1},
                                    {"Clear Pos On Quad Index", 332, C::kFlag, 1}};
constexpr Field kHomeWithoutIndex[] = {{"Clear Pos On Forward Limit", 324, C::kFlag, 1},
                                       {"Clear Pos On Reverse Limit", 328, C::kFlag, 1},
                                       {"Clear Pos On Quad Index", 332, C::kNotKept, 1}};
constexpr Field kMotorSensorMeas[] = {
    {"Velocity Period", 52, C::kWhole, 1},
    {"Velocity Window", 56, C::kWhole, 1},
    {"Voltage Meas Filter", 60, C::kWhole, 1},
    {"Feedback Not Continuous", 316, C::kFlag, 1},
    {"Pulse Width Edges Per Rotation", 344, C::kWhole, 1},
    {"Pulse Width Filter Window", 348, C::kWhole, 1}};
constexpr Field kBrushlessCustom[] = {{"Custom Param 0", 392, C::kWhole, 1},
                                      {"Custom Param 1", 396, C::kWhole, 1}};
constexpr Field kBrushlessSensor[] = {{"Absolute Sensor Range", 400, C::kWhole, 1},
                                      {"Sensor Initialization Strategy", 404, C::kWhole, 1},
                                      {"Sensor Offset (deg)", 408, C::kSignedScaled, 1}};
constexpr Field kEncoderSensor[] = {{"Absolute Sensor Range", 4, C::kWhole, 1},
                                    {"Sensor Initialization Strategy", 8, C::kWhole, 1},
                                    {"Sensor Direction", 12, C::kFlag, 1},
                                    {"Magnet Offset (deg)", 16, C::kRoundedScaled, 4096.0 / 360.0}};
constexpr Field kEncoderUnits[] = {{"Unit String", 36, C::kUnitText, 1},
                                   {"Sensor Coefficient", 44, C::kUnsignedScaled, 134217728.0},
                                   {"Sensor Time Base", 48, C::kWhole, 1}};
constexpr Field kEncoderCustom[] = {{"Custom Param 0", 28, C::kWhole, 1},
                                    {"Custom Param 1", 32, C::kWhole, 1}};
constexpr Field kEncoderMeas[] = {{"Velocity Period", 20, C::kWholeUnsigned, 1},
                                  {"Velocity Window", 24, C::kWholeUnsigned, 1}};
constexpr Field kImu[] = {{"Invert", 124, C::kWhole, 1}};

template <size_t N>
constexpr Group Plain(const char* type, const Field (&fields)[N]) {
  return {type, fields, N, false};
}

constexpr Group kBrushedGroups[] = {
    Plain("MotorOutputGroup", kMotorOutput),      Plain("CurrentLimitGroup", kBrushedCurrentLimit),
    Plain("VoltageCompGroup", kVoltageComp),      Plain("HardLimitSwitchGroup", kHardLimits),
    Plain("SoftLimitSwitchGroup", kSoftLimits),   Plain("MotionMagicGroup", kMotionMagic),
    Plain("MotionProfileGroup", kMotionProfile),  Plain("ClosedLoopGroup", kClosedLoop),
    {"SlotGroup", kSlot, std::size(kSlot), true}, Plain("RemoteSensorGroup", kRemoteSensor),
    Plain("HomeSensorGroup", kHomeWithIndex),     Plain("AdvancedSensorMeas", kMotorSensorMeas)};
constexpr Group kBrushlessGroups[] = {
    Plain("MotorOutputGroup", kMotorOutput),      Plain("SupplyCurrentLimitGroup", kSupplyLimit),
    Plain("StatorCurrentLimitGroup", kStatorLimit), Plain("VoltageCompGroup", kVoltageComp),
    Plain("HardLimitSwitchGroup", kHardLimits),   Plain("SoftLimitSwitchGroup", kSoftLimits),
    Plain("MotionMagicGroup", kMotionMagic),      Plain("MotionProfileGroup", kMotionProfile),
    Plain("ClosedLoopGroup", kClosedLoop),        {"SlotGroup", kSlot, std::size(kSlot), true},
    Plain("RemoteSensorGroup", kRemoteSensor),    Plain("HomeSensorGroup", kHomeWithoutIndex),
    Plain("AdvancedSensorMeas", kMotorSensorMeas), Plain("CustomParams", kBrushlessCustom),
    Plain("IntegratedSensor", kBrushlessSensor)};
constexpr Group kEncoderGroups[] = {
    Plain("IntegratedSensor", kEncoderSensor), Plain("UnitCoeffGroup", kEncoderUnits),
    Plain("CustomParams", kEncoderCustom), Plain("AdvancedSensorMeas", kEncoderMeas)};
constexpr Group kImuGroups[] = {Plain("ConfigGroup", kImu)};

struct GroupList {
  const Group* groups;
  size_t count;
};

GroupList GroupsOf(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::kKestrelKx:
    case DeviceFamily::kHarrierHx:
      return {kBrushedGroups, std::size(kBrushedGroups)};
    case DeviceFamily::kKestrelKf:
      return {kBrushlessGroups, std::size(kBrushlessGroups)};
    case DeviceFamily::kCandial:
      return {kEncoderGroups, std::size(kEncoderGroups)};
    case DeviceFamily::kWren:
      return {kImuGroups, std::size(kImuGroups)};
    default:
      return {nullptr, 0};
  }
}

// Short codes of the unit names too long for the 8-byte field, in code order.
const char* const kLongUnitNames[] = {
    "legacy", "rotation", "rotations", "deg",  "degree", "degrees",     "radian",
    "rad",    "radians",  "inch",      "inches", "feet", "ft",          "yard",
    "yards",  "centimeter", "centimeters", "meter", "meters"};

struct Failure {
  std::string message;
};

void PutField(uint8_t* image, uint16_t position, uint32_t value) {
  for (uint16_t i = 0; i < kFieldBytes; ++i)
    image[position + i] = static_cast<uint8_t>(value >> (8 * i));
}

double Number(const json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (!value.is_number()) throw Failure{"expected a number, got " + value.dump()};
  return value.get<double>();
}

// The whole number `x` cut toward zero, if it fits the field.
uint32_t Cut(double x, bool isSigned) {
  const double t = std::trunc(x);
  const double low = isSigned ? -2147483648.0 : 0.0;
  const double high = isSigned ? 2147483647.0 : 4294967295.0;
  if (!(t >= low && t <= high)) throw Failure{"out of the field's range"};
  return isSigned ? static_cast<uint32_t>(static_cast<int32_t>(t)) : static_cast<uint32_t>(t);
}

double InRange(double x, double low, double high) {
  if (!(x >= low && x <= high)) throw Failure{"out of the field's range"};
  return x;
}

uint32_t Gain(double x, double limit) {
  const double magnitude = std::fabs(InRange(x, -limit, limit));
  if (magnitude >= limit) throw Failure{"out of the field's range"};
  // The bit below the last kept one rounds the magnitude half up; the sign comes after.
  const uint64_t units = static_cast<uint64_t>(magnitude * kGainScale) +
                         (static_cast<uint64_t>(magnitude * 2 * kGainScale) & 1u);
  return static_cast<uint32_t>(x < 0 ? -static_cast<int64_t>(units) : static_cast<int64_t>(units));
}

uint32_t Fraction(double x) {  // to the nearest 1/1023, halves away from zero
  const double steps = x * kFullOutput;
  return static_cast<uint32_t>(static_cast<int32_t>(steps < 0 ? steps - 0.5 : steps + 0.5));
}

void PutUnitText(uint8_t* image, uint16_t position, const json& value) {
  if (!value.is_string()) throw Failure{"expected a text, got " + value.dump()};
  std::string text = value.get<std::string>();
  if (text.size() > kUnitTextBytes) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto known = std::find(std::begin(kLongUnitNames), std::end(kLongUnitNames), lower);
    if (known == std::end(kLongUnitNames))
      throw Failure{"a unit text over 8 bytes must be a known unit"};
    const int code = static_cast<int>(known - std::begin(kLongUnitNames)) + 1;
    text = std::string("______") + static_cast<char>('0' + code / 10) +
           static_cast<char>('0' + code % 10);
  }
  for (size_t i = 0; i < kUnitTextBytes; ++i)
    image[position + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

bool Flag(const json& value) {
  if (!value.is_boolean()) throw Failure{"expected true or false, got " + value.dump()};
  return value.get<bool>();
}

uint32_t RampSteps(double seconds) {
  if (seconds == 0) return 0;  // no ramp
  return Cut(std::max(1.0, kFullOutput / (seconds * kRampTicksPerSecond)), false);
}

// The field of a value of any coding but the unit text, which takes two fields.
uint32_t FieldValue(const Field& field, const json& value) {
  switch (field.coding) {
    case C::kWhole:
      return Cut(Number(value), true);
    case C::kWholeUnsigned:
      return Cut(Number(value), false);
    case C::kFlag:
      return Flag(value) ? 1 : 0;
    case C::kNotFlag:
      return Flag(value) ? 0 : 1;
    case C::kUnsignedScaled:
      return Cut(Number(value) * field.scale, false);
    case C::kSignedScaled:
      return Cut(Number(value) * field.scale, true);
    case C::kRoundedScaled:
      return Cut(Number(value) * field.scale + 0.5, true);
    case C::kForwardFraction:
      return Fraction(InRange(Number(value), 0, 1));
    case C::kReverseFraction:
      return Fraction(InRange(Number(value), -1, 0));
    case C::kEitherFraction:
      return Fraction(InRange(Number(value), -1, 1));
    case C::kRampSeconds:
      return RampSteps(InRange(Number(value), 0, 1e9));
    case C::kUnsignedGain:
      return Gain(InRange(Number(value), 0, kUnsignedGainLimit), kUnsignedGainLimit);
    case C::kSignedGain:
      return Gain(Number(value), kSignedGainLimit);
    case C::kUnitText:
    case C::kNotKept:
      break;
  }
  return 0;
}

void PutValue(uint8_t* image, uint16_t position, const Field& field, const json& value) {
  if (field.coding == C::kNotKept) return;
  if (field.coding == C::kUnitText) return PutUnitText(image, position, value);
  PutField(image, position, FieldValue(field, value));
}

const Group* FindGroup(const GroupList& list, const std::string& type) {
  for (size_t i = 0; i < list.count; ++i) {
    if (type == list.groups[i].type) return &list.groups[i];
  }
  return nullptr;
}

void EncodeEntry(const GroupList& list, const json& entry, uint8_t* image, size_t length) {
  if (!entry.is_object() || !entry.contains("Type") || !entry["Type"].is_string())
    throw Failure{"expected an object with a \"Type\" text"};
  const Group* group = FindGroup(list, entry["Type"].get<std::string>());
  if (group == nullptr) throw Failure{"this family has no group " + entry["Type"].dump()};
  uint16_t base = 0;
  if (group->slotted) {
    const int ordinal = entry.contains("Ordinal") ? static_cast<int>(Number(entry["Ordinal"])) : 0;
    if (ordinal < 0 || ordinal >= kSlots) throw Failure{"\"Ordinal\" must be 0 to 3"};
    base = static_cast<uint16_t>(kSlotBase + kSlotStride * ordinal);
  }
  const json values = entry.contains("Values") ? entry["Values"] : json::object();
  if (!values.is_object()) throw Failure{"\"Values\" must be an object"};
  for (auto it = values.begin(); it != values.end(); ++it) {
    const Field* field = std::find_if(group->fields, group->fields + group->count,
                                      [&it](const Field& f) { return it.key() == f.key; });
    if (field == group->fields + group->count) throw Failure{"unknown key \"" + it.key() + "\""};
    const uint16_t position = static_cast<uint16_t>(base + field->position);
    if (position + (field->coding == C::kUnitText ? kUnitTextBytes : kFieldBytes) > length)
      throw Failure{"\"" + it.key() + "\" lies beyond the image"};
    try {
      PutValue(image, position, *field, it.value());
    } catch (const Failure& f) {
      throw Failure{"\"" + it.key() + "\": " + f.message};
    }
  }
}

}  // namespace

bool EncodeConfigDocument(DeviceFamily family, const json& document, uint8_t* image, size_t length,
                          std::string* error) {
  const GroupList list = GroupsOf(family);
  std::string where;
  try {
    if (list.count == 0) throw Failure{"this family keeps no configuration"};
    if (!document.is_object() || !document.contains("Configs") || !document["Configs"].is_array())
      throw Failure{"expected an object with a \"Configs\" list"};
    const json& configs = document["Configs"];
    for (size_t index = 0; index < configs.size(); ++index) {
      where = "Configs[" + std::to_string(index) + "]: ";
      EncodeEntry(list, configs[index], image, length);
    }
  } catch (const Failure& f) {
    if (error != nullptr) *error = where + f.message;
    return false;
  }
  return true;
}

}  // namespace quor::tessera::sim
