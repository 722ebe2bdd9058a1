#pragma once
// The value groups of the motor controllers: one class per entry type of the configuration
// document, each a table of fields (value_groups.cpp holds the tables).
#include <cstdint>

#include "config/config_value_group.h"

namespace quor::tessera::diagnostics::config2 {

class MotorOutputGroup : public ConfigValueGroup {
 public:
  MotorOutputGroup();
  double PeakForwardOutput() const { return Get("Peak Forward Output"); }
  double PeakReverseOutput() const { return Get("Peak Reverse Output"); }
  double NominalForwardOutput() const { return Get("Nominal Forward Output"); }
  double NominalReverseOutput() const { return Get("Nominal Reverse Output"); }
};

class CurrentLimitGroup : public ConfigValueGroup {
 public:
  CurrentLimitGroup();
};

// The brushless controller's supply limit reuses the brushed controllers' current-limit fields.
class SupplyCurrentLimitGroup : public ConfigValueGroup {
 public:
  SupplyCurrentLimitGroup();
};

class StatorCurrentLimitGroup : public ConfigValueGroup {
 public:
  StatorCurrentLimitGroup();
};

class VoltageCompGroup : public ConfigValueGroup {
 public:
  VoltageCompGroup();
};

class HardLimitSwitchGroup : public ConfigValueGroup {
 public:
  HardLimitSwitchGroup();
};

class SoftLimitSwitchGroup : public ConfigValueGroup {
 public:
  SoftLimitSwitchGroup();
};

class MotionMagicGroup : public ConfigValueGroup {
 public:
  MotionMagicGroup();
};

class MotionProfileGroup : public ConfigValueGroup {
 public:
  MotionProfileGroup();
};

class ClosedLoopGroup : public ConfigValueGroup {
 public:
  ClosedLoopGroup();
};

// One of the four PID slots; the slot index fixes where its fields sit in the image.
class SlotGroup : public ConfigValueGroup {
 public:
  static constexpr uint32_t kSlotCount = 4;
  explicit SlotGroup(uint32_t slot);
  uint32_t slot() const { return slot_; }

 private:
  uint32_t slot_;
};

class RemoteSensorGroup : public ConfigValueGroup {
 public:
  RemoteSensorGroup();
};

class HomeSensorGroup : public ConfigValueGroup {
 public:
  // Controllers without a quadrature index input always store "clear on quad index" as 0.
  explicit HomeSensorGroup(bool noQuadIndex);
  using ConfigValueGroup::Serialize;
  int32_t Serialize(ConfigByteArray& image) const override;
  // A changed "clear on quad index" is written as 0 there too.
  void SerializeOver(ConfigByteArray& image, const std::string& where,
                     std::vector<std::string>& refused) const override;

 private:
  bool noQuadIndex_;
};

class AdvancedSensorMeas : public ConfigValueGroup {
 public:
  AdvancedSensorMeas();
};

class CustomParams : public ConfigValueGroup {
 public:
  CustomParams();
};

}  // namespace quor::tessera::diagnostics::config2
