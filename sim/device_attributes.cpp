#include "sim/device_attributes.h"

#include <cstdio>

namespace quor::tessera::sim {

std::string SerialText(const DeviceAttributes& device) {
  std::string text;
  text.reserve(kSerialBytes * 2);
  char digits[3];
  for (uint8_t byte : device.serial) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += digits;
  }
  return text;
}

std::string FirmwareText(const DeviceAttributes& device) {
  std::string text = std::to_string(device.firmware[0]) + "." + std::to_string(device.firmware[1]);
  if (device.firmwareParts == 4) {
    text += "." + std::to_string(device.firmware[2]) + "." + std::to_string(device.firmware[3]);
  }
  return text;
}

bool HasApplicationFirmware(const DeviceAttributes& device) {
  return !(device.firmware[0] == kNoFirmwarePart && device.firmware[1] == kNoFirmwarePart);
}

}  // namespace quor::tessera::sim
