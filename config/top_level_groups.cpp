#include "config/top_level_groups.h"

namespace quor::tessera::diagnostics::config2 {

namespace {

constexpr uint32_t kMotorControllerFormat = 2;
constexpr uint32_t kSensorFormat = 1;  // CAN encoder and IMU

}  // namespace

MotorControllerGroup::MotorControllerGroup()
    : CompositeConfigGroup(kImageLength, kMotorControllerFormat),
      slots{SlotGroup(0), SlotGroup(1), SlotGroup(2), SlotGroup(3)},
      homeSensor(false) {
  AddMember("MotorOutputGroup", motorOutput);
  AddMember("CurrentLimitGroup", currentLimit);
  AddMember("VoltageCompGroup", voltageComp);
  AddMember("HardLimitSwitchGroup", hardLimitSwitch);
  AddMember("SoftLimitSwitchGroup", softLimitSwitch);
  AddMember("MotionMagicGroup", motionMagic);
  AddMember("MotionProfileGroup", motionProfile);
  AddMember("ClosedLoopGroup", closedLoop);
  for (SlotGroup& slot : slots) AddMember("SlotGroup", slot, static_cast<int32_t>(slot.slot()));
  AddMember("RemoteSensorGroup", remoteSensor);
  AddMember("HomeSensorGroup", homeSensor);
  AddMember("AdvancedSensorMeas", advancedSensorMeas);
}

KestrelKFGroup::KestrelKFGroup()
    : CompositeConfigGroup(kImageLength, kMotorControllerFormat),
      slots{SlotGroup(0), SlotGroup(1), SlotGroup(2), SlotGroup(3)},
      homeSensor(true) {
  AddMember("MotorOutputGroup", motorOutput);
  AddMember("SupplyCurrentLimitGroup", supplyCurrentLimit);
  AddMember("StatorCurrentLimitGroup", statorCurrentLimit);
  AddMember("VoltageCompGroup", voltageComp);
  AddMember("HardLimitSwitchGroup", hardLimitSwitch);
  AddMember("SoftLimitSwitchGroup", softLimitSwitch);
  AddMember("MotionMagicGroup", motionMagic);
  AddMember("MotionProfileGroup", motionProfile);
  AddMember("ClosedLoopGroup", closedLoop);
  for (SlotGroup& slot : slots) AddMember("SlotGroup", slot, static_cast<int32_t>(slot.slot()));
  AddMember("RemoteSensorGroup", remoteSensor);
  AddMember("HomeSensorGroup", homeSensor);
  AddMember("AdvancedSensorMeas", advancedSensorMeas);
  AddMember("CustomParams", customParams);
  AddMember("IntegratedSensor", integratedSensor);
}

CANdialGroup::CANdialGroup() : CompositeConfigGroup(kImageLength, kSensorFormat) {
  AddMember("IntegratedSensor", integratedSensor);
  AddMember("UnitCoeffGroup", unitCoeff);
  AddMember("CustomParams", customParams);
  AddMember("AdvancedSensorMeas", advancedSensorMeas);
}

WrenIMUGroup::WrenIMUGroup() : CompositeConfigGroup(kImageLength, kSensorFormat) {
  AddMember("ConfigGroup", general);
}

}  // namespace quor::tessera::diagnostics::config2
