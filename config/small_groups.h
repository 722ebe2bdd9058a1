#pragma once
// The groups of the brushless controller's integrated sensor, the CAN encoder and the IMU.
#include <string>

#include "config/config_value_group.h"

namespace quor::tessera::diagnostics::config2 {

class KestrelKF_IntegratedSensor_Group : public ConfigValueGroup {
 public:
  KestrelKF_IntegratedSensor_Group();
};

class WrenGeneralGroup : public ConfigValueGroup {
 public:
  WrenGeneralGroup();
};

class CANdial_IntegratedSensor_Group : public ConfigValueGroup {
 public:
  CANdial_IntegratedSensor_Group();
};

// Besides its numeric fields it carries the unit text, stored compiled in two words.
class CANdial_UnitCoeff_Group : public ConfigValueGroup {
 public:
  CANdial_UnitCoeff_Group();

  int32_t Deserialize(const ConfigByteArray& image) override;
  int32_t Deserialize(const json& values) override;
  int32_t Serialize(ConfigByteArray& image) const override;
  int32_t Serialize(json& values) const override;
  // A text the two words cannot hold (a long name that is not in the unit table, cut to 8
  // bytes) is refused like a number beyond its field.
  void SerializeOver(ConfigByteArray& image, const std::string& where,
                     std::vector<std::string>& refused) const override;
  void AppendDifferences(const ConfigValueGroup& other, const std::string& where,
                         std::vector<std::string>& differences) const override;

  const std::string& UnitString() const { return unitString_; }
  void SetUnitString(const std::string& text) { unitString_ = text; }

 private:
  std::string unitString_;
};

class CANdial_CustomParams_Group : public ConfigValueGroup {
 public:
  CANdial_CustomParams_Group();
};

class CANdial_AdvancedSensorMeas_Group : public ConfigValueGroup {
 public:
  CANdial_AdvancedSensorMeas_Group();
};

}  // namespace quor::tessera::diagnostics::config2
