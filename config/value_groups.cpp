#include "config/value_groups.h"

#include <iterator>

#include "config/image_fields.h"

namespace quor::tessera::diagnostics::config2 {

namespace {

using K = JsonKind;
using C = FieldCoding;

constexpr uint32_t kSlotBasePosition = 136;
constexpr uint32_t kSlotStride = 36;
constexpr uint32_t kClearPosOnQuadIndexPosition = 332;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kVoltageScale = 256.0;       // volts in 8.8 fixed point
constexpr double kCoefficientScale = 65536.0;  // 16.16 fixed point

constexpr FieldSpec kMotorOutput[] = {
    Field("Neutral Mode", K::Int, 4, C::AsIs),
    Field("Neutral Deadband", K::Float, 132, C::SignedThrottle),
    Field("Open Loop Ramp", K::Float, 124, C::Ramp),
    Field("Peak Forward Output", K::Float, 32, C::ForwardPeak),
    Field("Peak Reverse Output", K::Float, 40, C::ReversePeak),
    Field("Nominal Forward Output", K::Float, 36, C::ForwardPeak),
    Field("Nominal Reverse Output", K::Float, 44, C::ReversePeak),
};

constexpr FieldSpec kCurrentLimit[] = {
    Field("Peak Current Limit", K::Float, 112, C::ScaledUnsigned),
    Field("Peak Current Duration", K::Float, 116, C::ScaledUnsigned),
    Field("Continuous Current Limit", K::Float, 120, C::ScaledUnsigned),
};

constexpr FieldSpec kSupplyCurrentLimit[] = {
    Field("Enable", K::Bool, 356, C::Flag),
    Field("Current Limit", K::Float, 120, C::ScaledUnsigned),
    Field("Trigger Threshold Current", K::Float, 112, C::ScaledUnsigned),
    ScaledField("Trigger Threshold Time", 116, C::ScaledUnsigned, kMillisecondsPerSecond, 1.0, 0.001),
};

constexpr FieldSpec kStatorCurrentLimit[] = {
    Field("Enable", K::Bool, 372, C::Flag),
    Field("Current Limit", K::Float, 368, C::ScaledUnsigned),
    Field("Trigger Threshold Current", K::Float, 360, C::ScaledUnsigned),
    ScaledField("Trigger Threshold Time", 364, C::ScaledUnsigned, kMillisecondsPerSecond, 1.0, 0.001),
};

constexpr FieldSpec kVoltageComp[] = {
    ScaledField("Voltage Compensation Saturation", 48, C::ScaledUnsigned, kVoltageScale, 1.0, 1.0 / kVoltageScale),
};

constexpr FieldSpec kHardLimitSwitch[] = {
    Field("Limit Forward", K::Int, 8, C::AsIs),
    Field("Limit Reverse", K::Int, 12, C::AsIs),
    Field("Limit Forward Source", K::Int, 80, C::AsIs),
    Field("Limit Reverse Source", K::Int, 84, C::AsIs),
    Field("Limit Forward Device ID", K::Int, 88, C::AsIs),
    Field("Limit Reverse Device ID", K::Int, 92, C::AsIs),
};

constexpr FieldSpec kSoftLimitSwitch[] = {
    Field("Forward Soft Limit Enable", K::Bool, 24, C::Flag),
    Field("Reverse Soft Limit Enable", K::Bool, 28, C::Flag),
    Field("Soft Limit Forward Value", K::Float, 16, C::ScaledSigned),
    Field("Soft Limit Reverse Value", K::Float, 20, C::ScaledSigned),
};

constexpr FieldSpec kMotionMagic[] = {
    Field("Cruise Velocity", K::Float, 300, C::ScaledUnsigned),
    Field("Acceleration", K::Float, 304, C::ScaledUnsigned),
    Field("Curve Strength", K::Int, 352, C::AsIs),
};

constexpr FieldSpec kMotionProfile[] = {
    Field("Base Trajectory Period Ms", K::Int, 308, C::AsIs),
    // The device field means "interpolation disabled".
    Field("Trajectory Interpolation Enable", K::Bool, 312, C::InvertedFlag),
};

constexpr FieldSpec kClosedLoop[] = {
    Field("Closed Loop Ramp", K::Float, 128, C::Ramp),
    Field("PID 0 Primary Feedback Sensor", K::Int, 64, C::AsIs),
    ScaledField("PID 0 Primary Sensor Coefficient", 72, C::ScaledUnsigned, kCoefficientScale, 1.0,
                1.0 / kCoefficientScale),
    Field("PID 1 Aux Feedback Sensor", K::Int, 68, C::AsIs),
    ScaledField("PID 1 Aux Sensor Coefficient", 76, C::ScaledUnsigned, kCoefficientScale, 1.0,
                1.0 / kCoefficientScale),
    Field("PID 1 Polarity", K::Bool, 280, C::Flag),
};

// Offsets from the slot's base position.
constexpr FieldSpec kSlot[] = {
    Field("kP", K::Float, 0, C::Fixed10dot22U),
    Field("kI", K::Float, 4, C::Fixed10dot22U),
    Field("kD", K::Float, 8, C::Fixed10dot22U),
    Field("kF", K::Float, 12, C::Fixed10dot22S),
    Field("I Zone", K::Float, 16, C::ScaledUnsigned),
    Field("Allowable Error", K::Float, 20, C::ScaledUnsigned),
    Field("Max Integral Accum", K::Float, 24, C::ScaledUnsigned),
    Field("Peak Output", K::Float, 28, C::UnsignedThrottle),
    BooleanTolerantField("Loop Period Ms", K::UInt, 32),
};

constexpr FieldSpec kRemoteSensor[] = {
    Field("Filter 0 Device ID", K::Int, 284, C::AsIs),
    Field("Filter 1 Device ID", K::Int, 288, C::AsIs),
    Field("Filter 0 Source", K::Int, 292, C::AsIs),
    Field("Filter 1 Source", K::Int, 296, C::AsIs),
    // The device fields mean "do not go neutral".
    Field("Neutral If Missing Remote Sensor Dur Closed Loop", K::Bool, 320, C::InvertedFlag),
    Field("Neutral If Missing Remote Limit Switch", K::Bool, 336, C::InvertedFlag),
    Field("Neutral If Missing Remote Soft Limit", K::Bool, 340, C::InvertedFlag),
    Field("Sum Term 0", K::Int, 96, C::AsIs),
    Field("Sum Term 1", K::Int, 100, C::AsIs),
    Field("Diff Term 0", K::Int, 104, C::AsIs),
    Field("Diff Term 1", K::Int, 108, C::AsIs),
};

constexpr FieldSpec kHomeSensor[] = {
    Field("Clear Pos On Forward Limit", K::Bool, 324, C::Flag),
    Field("Clear Pos On Reverse Limit", K::Bool, 328, C::Flag),
    Field("Clear Pos On Quad Index", K::Bool, kClearPosOnQuadIndexPosition, C::Flag),
};

constexpr FieldSpec kAdvancedSensorMeas[] = {
    Field("Velocity Period", K::Int, 52, C::AsIs),
    Field("Velocity Window", K::Int, 56, C::AsIs),
    Field("Voltage Meas Filter", K::Int, 60, C::AsIs),
    Field("Feedback Not Continuous", K::Bool, 316, C::Flag),
    Field("Pulse Width Edges Per Rotation", K::Int, 344, C::AsIs),
    Field("Pulse Width Filter Window", K::Int, 348, C::AsIs),
};

constexpr FieldSpec kCustomParams[] = {
    Field("Custom Param 0", K::Int, 392, C::AsIs),
    Field("Custom Param 1", K::Int, 396, C::AsIs),
};

}  // namespace

MotorOutputGroup::MotorOutputGroup() : ConfigValueGroup(kMotorOutput, std::size(kMotorOutput)) {}
CurrentLimitGroup::CurrentLimitGroup() : ConfigValueGroup(kCurrentLimit, std::size(kCurrentLimit)) {}
SupplyCurrentLimitGroup::SupplyCurrentLimitGroup()
    : ConfigValueGroup(kSupplyCurrentLimit, std::size(kSupplyCurrentLimit)) {}
StatorCurrentLimitGroup::StatorCurrentLimitGroup()
    : ConfigValueGroup(kStatorCurrentLimit, std::size(kStatorCurrentLimit)) {}
VoltageCompGroup::VoltageCompGroup() : ConfigValueGroup(kVoltageComp, std::size(kVoltageComp)) {}
HardLimitSwitchGroup::HardLimitSwitchGroup() : ConfigValueGroup(kHardLimitSwitch, std::size(kHardLimitSwitch)) {}
SoftLimitSwitchGroup::SoftLimitSwitchGroup() : ConfigValueGroup(kSoftLimitSwitch, std::size(kSoftLimitSwitch)) {}
MotionMagicGroup::MotionMagicGroup() : ConfigValueGroup(kMotionMagic, std::size(kMotionMagic)) {}
MotionProfileGroup::MotionProfileGroup() : ConfigValueGroup(kMotionProfile, std::size(kMotionProfile)) {}
ClosedLoopGroup::ClosedLoopGroup() : ConfigValueGroup(kClosedLoop, std::size(kClosedLoop)) {}

SlotGroup::SlotGroup(uint32_t slot)
    : ConfigValueGroup(kSlot, std::size(kSlot), kSlotBasePosition + kSlotStride * (slot % kSlotCount)),
      slot_(slot % kSlotCount) {}

RemoteSensorGroup::RemoteSensorGroup() : ConfigValueGroup(kRemoteSensor, std::size(kRemoteSensor)) {}

HomeSensorGroup::HomeSensorGroup(bool noQuadIndex)
    : ConfigValueGroup(kHomeSensor, std::size(kHomeSensor)), noQuadIndex_(noQuadIndex) {}

int32_t HomeSensorGroup::Serialize(ConfigByteArray& image) const {
  const int32_t result = ConfigValueGroup::Serialize(image);
  if (noQuadIndex_) WriteImageField(image, kClearPosOnQuadIndexPosition, 0);
  return result;
}

void HomeSensorGroup::SerializeOver(ConfigByteArray& image, const std::string& where,
                                    std::vector<std::string>& refused) const {
  const uint32_t held = ReadImageField(image, kClearPosOnQuadIndexPosition);
  ConfigValueGroup::SerializeOver(image, where, refused);
  if (noQuadIndex_ && ReadImageField(image, kClearPosOnQuadIndexPosition) != held)
    WriteImageField(image, kClearPosOnQuadIndexPosition, 0);
}

AdvancedSensorMeas::AdvancedSensorMeas() : ConfigValueGroup(kAdvancedSensorMeas, std::size(kAdvancedSensorMeas)) {}
CustomParams::CustomParams() : ConfigValueGroup(kCustomParams, std::size(kCustomParams)) {}

}  // namespace quor::tessera::diagnostics::config2
