#include "config/small_groups.h"

#include <iterator>

#include "config/image_fields.h"
#include "config/unit_strings.h"
#include "core/string_util.h"
#include "device/error_codes.h"

namespace quor::tessera::diagnostics::config2 {

namespace units = quor::tessera::core::units_util::diag;

namespace {

using K = JsonKind;
using C = FieldCoding;

constexpr double kCountsPerTurn = 4096.0;      // the encoder's magnet sensor
constexpr double kDegreesPerTurn = 360.0;
constexpr double kUnitCoefficientScale = 134217728.0;  // 2^27
constexpr uint32_t kUnitStringWidth = 8;
constexpr uint32_t kUnitStringPosition = 36;  // two words: 36 and 40
constexpr const char* kUnitStringKey = "Unit String";

constexpr FieldSpec kKestrelKFIntegratedSensor[] = {
    Field("Absolute Sensor Range", K::Int, 400, C::AsIs),
    Field("Sensor Initialization Strategy", K::Int, 404, C::AsIs),
    Field("Sensor Offset (deg)", K::Float, 408, C::ScaledSigned),
};

constexpr FieldSpec kWrenGeneral[] = {
    BooleanTolerantField("Invert", K::Int, 124),
};

constexpr FieldSpec kCANdialIntegratedSensor[] = {
    Field("Absolute Sensor Range", K::Int, 4, C::AsIs),
    Field("Sensor Initialization Strategy", K::Int, 8, C::AsIs),
    Field("Sensor Direction", K::Bool, 12, C::Flag),
    ScaledField("Magnet Offset (deg)", 16, C::ScaledSigned, kCountsPerTurn, kDegreesPerTurn,
                kDegreesPerTurn / kCountsPerTurn),
};

constexpr FieldSpec kCANdialUnitCoeff[] = {
    ScaledField("Sensor Coefficient", 44, C::ScaledUnsigned, kUnitCoefficientScale, 1.0, 1.0 / kUnitCoefficientScale),
    Field("Sensor Time Base", K::Int, 48, C::AsIs),
};

constexpr FieldSpec kCANdialCustomParams[] = {
    Field("Custom Param 0", K::Int, 28, C::AsIs),
    Field("Custom Param 1", K::Int, 32, C::AsIs),
};

constexpr FieldSpec kCANdialAdvancedSensorMeas[] = {
    Field("Velocity Period", K::UInt, 20, C::AsIs),
    Field("Velocity Window", K::UInt, 24, C::AsIs),
};

// The unit text the image's two words hold, as a document shows it.
std::string HeldUnitString(const ConfigByteArray& image) {
  const std::string stored = units::DecodeUnitString(ReadImageField(image, kUnitStringPosition),
                                                     ReadImageField(image, kUnitStringPosition + kFieldBytes));
  // The device may hold bytes that are not UTF-8; a JSON document cannot carry them.
  return units::DecompileUnitString(units::trimUtf8(stored, stored.size()), kUnitStringWidth);
}

void WriteUnitWords(ConfigByteArray& image, const std::string& compiled) {
  uint32_t word0 = 0;
  uint32_t word1 = 0;
  units::EncodeUnitString(compiled, word0, word1);
  WriteImageField(image, kUnitStringPosition, word0);
  WriteImageField(image, kUnitStringPosition + kFieldBytes, word1);
}

bool SameUnit(const std::string& a, const std::string& b) {
  return string_util::toLower(a) == string_util::toLower(b);
}

}  // namespace

KestrelKF_IntegratedSensor_Group::KestrelKF_IntegratedSensor_Group()
    : ConfigValueGroup(kKestrelKFIntegratedSensor, std::size(kKestrelKFIntegratedSensor)) {}

WrenGeneralGroup::WrenGeneralGroup() : ConfigValueGroup(kWrenGeneral, std::size(kWrenGeneral)) {}

CANdial_IntegratedSensor_Group::CANdial_IntegratedSensor_Group()
    : ConfigValueGroup(kCANdialIntegratedSensor, std::size(kCANdialIntegratedSensor)) {}

CANdial_UnitCoeff_Group::CANdial_UnitCoeff_Group()
    : ConfigValueGroup(kCANdialUnitCoeff, std::size(kCANdialUnitCoeff)) {}

int32_t CANdial_UnitCoeff_Group::Deserialize(const ConfigByteArray& image) {
  unitString_ = HeldUnitString(image);
  return ConfigValueGroup::Deserialize(image);
}

int32_t CANdial_UnitCoeff_Group::Deserialize(const json& values) {
  try {
    const json& text = CheckedAt(values, kUnitStringKey);
    unitString_ = text.get<std::string>();
  } catch (const json::exception&) {
    return QUOR_DI_InvalidJson;
  }
  return ConfigValueGroup::Deserialize(values);
}

int32_t CANdial_UnitCoeff_Group::Serialize(ConfigByteArray& image) const {
  WriteUnitWords(image, units::CompileUnitString(unitString_, kUnitStringWidth));
  return ConfigValueGroup::Serialize(image);
}

void CANdial_UnitCoeff_Group::SerializeOver(ConfigByteArray& image, const std::string& where,
                                            std::vector<std::string>& refused) const {
  ConfigValueGroup::SerializeOver(image, where, refused);
  if (unitString_ == HeldUnitString(image)) return;
  const std::string compiled = units::CompileUnitString(unitString_, kUnitStringWidth);
  if (!SameUnit(units::DecompileUnitString(compiled, kUnitStringWidth), unitString_)) {
    refused.push_back(where + " / " + kUnitStringKey + " = " + json(unitString_).dump());
    return;
  }
  WriteUnitWords(image, compiled);
}

void CANdial_UnitCoeff_Group::AppendDifferences(const ConfigValueGroup& other, const std::string& where,
                                                std::vector<std::string>& differences) const {
  ConfigValueGroup::AppendDifferences(other, where, differences);
  const auto& otherUnit = static_cast<const CANdial_UnitCoeff_Group&>(other).unitString_;
  if (!SameUnit(unitString_, otherUnit)) differences.push_back(where + " / " + kUnitStringKey);
}

int32_t CANdial_UnitCoeff_Group::Serialize(json& values) const {
  const int32_t result = ConfigValueGroup::Serialize(values);
  if (result == QUOR_DI_OKAY) values[kUnitStringKey] = unitString_;
  return result;
}

CANdial_CustomParams_Group::CANdial_CustomParams_Group()
    : ConfigValueGroup(kCANdialCustomParams, std::size(kCANdialCustomParams)) {}

CANdial_AdvancedSensorMeas_Group::CANdial_AdvancedSensorMeas_Group()
    : ConfigValueGroup(kCANdialAdvancedSensorMeas, std::size(kCANdialAdvancedSensorMeas)) {}

}  // namespace quor::tessera::diagnostics::config2
