#pragma once
// The calibrations `calibrate` names: the IMU's calibration modes as its self-test reports them.
// The server passes the number on as "caltype"; the IMU is sent one start frame whatever it
// is, and `selftest` shows the mode it then runs.
#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

struct CalibrationType {
  const char* name;
  unsigned number;
  const char* what;
};

const std::vector<CalibrationType>& CalibrationTypes();
// A type by name (any case) or by number; nothing for others.
std::optional<CalibrationType> FindCalibrationType(const std::string& typed);
// "boot-tare (0), temperature (1), …" for help texts.
std::string CalibrationTypeList();

}  // namespace tessera::cli
