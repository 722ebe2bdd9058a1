#pragma once
// The robot `--can sim` simulates when no device file is given: eight devices, one of each
// family, all running their application firmware.
#include <vector>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

std::vector<DeviceAttributes> BuiltInRobot();

}  // namespace quor::tessera::sim
