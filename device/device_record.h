#pragma once
// The engine's record of one device it has heard from.
#include <cstdint>
#include <memory>

#include "config/config_byte_array.h"
#include "device/device_descriptor.h"

constexpr int kDeviceLongTextSize = 130;   // custom name and second text, NUL-terminated
constexpr int kReportedTextSize = 64;      // model / vendor strings of the information record
constexpr int kTypePrefixSize = 68;

struct _Device {
  uint32_t foundIndex = 0;
  uint8_t firmwareMajor = 0;
  uint8_t firmwareMinor = 0;
  uint8_t firmwareThird = 0;
  uint8_t firmwareFourth = 0;
  uint8_t deviceType = 0;        // bits 28..24 of the last information answer's ID
  uint8_t extraStatus[2] = {};   // bytes 2 and 3 of the application-check answer
  CANDeviceInterface1::DeviceDescriptor descriptor = {};
  char customName[kDeviceLongTextSize] = {};
  char secondText[kDeviceLongTextSize] = {};
  char reportedModel[kReportedTextSize] = {};
  char reportedVendor[kReportedTextSize] = {};
  // The version text of the last information answer, which a stale mark replaces in the
  // descriptor; it comes back when the device answers again without a new information answer.
  char reportedVers[CANDeviceInterface1::kDescriptorTextSize] = {};
  uint32_t modelCode = 0;
  char typePrefix[kTypePrefixSize] = {};
  // The image as the device's answers fill it (worked on under the device-interface lock).
  std::unique_ptr<ConfigByteArray> config = std::make_unique<ConfigByteArray>();
  // The last whole image, as getConfigParameters hands it out without the device-interface
  // lock; length 0 = none. Written and read under the engine's table lock only.
  ConfigByteArray wholeConfig;
};
