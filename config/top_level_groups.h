#pragma once
// The four top-level configuration groups, one per device family. Their value groups are public
// so that reports can show single values after a Deserialize.
#include <array>

#include "config/config_group.h"
#include "config/small_groups.h"
#include "config/value_groups.h"

namespace quor::tessera::diagnostics::config2 {

// Kestrel KX and Harrier HX.
class MotorControllerGroup : public CompositeConfigGroup {
 public:
  static constexpr uint32_t kImageLength = 356;
  MotorControllerGroup();

  MotorOutputGroup motorOutput;
  CurrentLimitGroup currentLimit;
  VoltageCompGroup voltageComp;
  HardLimitSwitchGroup hardLimitSwitch;
  SoftLimitSwitchGroup softLimitSwitch;
  MotionMagicGroup motionMagic;
  MotionProfileGroup motionProfile;
  ClosedLoopGroup closedLoop;
  std::array<SlotGroup, SlotGroup::kSlotCount> slots;
  RemoteSensorGroup remoteSensor;
  HomeSensorGroup homeSensor;
  AdvancedSensorMeas advancedSensorMeas;
};

class KestrelKFGroup : public CompositeConfigGroup {
 public:
  static constexpr uint32_t kImageLength = 412;
  KestrelKFGroup();

  MotorOutputGroup motorOutput;
  SupplyCurrentLimitGroup supplyCurrentLimit;
  StatorCurrentLimitGroup statorCurrentLimit;
  VoltageCompGroup voltageComp;
  HardLimitSwitchGroup hardLimitSwitch;
  SoftLimitSwitchGroup softLimitSwitch;
  MotionMagicGroup motionMagic;
  MotionProfileGroup motionProfile;
  ClosedLoopGroup closedLoop;
  std::array<SlotGroup, SlotGroup::kSlotCount> slots;
  RemoteSensorGroup remoteSensor;
  HomeSensorGroup homeSensor;
  AdvancedSensorMeas advancedSensorMeas;
  CustomParams customParams;
  KestrelKF_IntegratedSensor_Group integratedSensor;
};

class CANdialGroup : public CompositeConfigGroup {
 public:
  static constexpr uint32_t kImageLength = 52;
  CANdialGroup();

  CANdial_IntegratedSensor_Group integratedSensor;
  CANdial_UnitCoeff_Group unitCoeff;
  CANdial_CustomParams_Group customParams;
  CANdial_AdvancedSensorMeas_Group advancedSensorMeas;
};

class WrenIMUGroup : public CompositeConfigGroup {
 public:
  static constexpr uint32_t kImageLength = 128;
  WrenIMUGroup();

  WrenGeneralGroup general;
};

}  // namespace quor::tessera::diagnostics::config2
