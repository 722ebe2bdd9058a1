#include "cli/calibration_types.h"

#include "core/string_util.h"

namespace tessera::cli {

const std::vector<CalibrationType>& CalibrationTypes() {
  static const std::vector<CalibrationType> types = {
      {"boot-tare", 0, "bias the gyro and accelerometer; keep the IMU still"},
      {"temperature", 1, "collect data over a temperature range"},
      {"magnetometer-12pt", 2, "hold the IMU in the 12 documented positions"},
      {"magnetometer-360", 3, "spin the robot slowly through 360 degrees"},
      {"accelerometer", 5, "place the IMU on a level surface"},
  };
  return types;
}

std::optional<CalibrationType> FindCalibrationType(const std::string& typed) {
  const std::string name = quor::tessera::string_util::toLower(typed);
  for (const CalibrationType& type : CalibrationTypes())
    if (name == type.name || name == std::to_string(type.number)) return type;
  return std::nullopt;
}

std::string CalibrationTypeList() {
  std::string list;
  for (const CalibrationType& type : CalibrationTypes())
    list += (list.empty() ? "" : ", ") + std::string(type.name) + " (" + std::to_string(type.number) + ")";
  return list;
}

}  // namespace tessera::cli
