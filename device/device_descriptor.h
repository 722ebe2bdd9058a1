#pragma once
// One CAN device as the server sees it: filled by the engine, copied into JSON answers by the
// dispatcher, and handed back to name the device of a command.
#include <cstdint>

namespace CANDeviceInterface1 {

constexpr int kDescriptorTextSize = 64;  // fixed text fields, NUL-terminated, cut to 63 chars

struct DeviceDescriptor {
  uint32_t arbId;       // base arbitration ID; low 6 bits are the device number; 0 = no device
  uint32_t foundIndex;  // order in which the engine first saw the device (from 1)
  uint32_t dynamicId;   // dynamic CAN ID known to the dynamic-ID server; 0 = none
  char name[kDescriptorTextSize];
  char model[kDescriptorTextSize];
  char currentVers[kDescriptorTextSize];
  int32_t versionParts;  // 2 (major.minor) or 4
  char hardwareRev[kDescriptorTextSize];
  char vendor[kDescriptorTextSize];
  char bootloaderRev[kDescriptorTextSize];
  char manDate[kDescriptorTextSize];
  char softStatus[kDescriptorTextSize];
  char serialNo[kDescriptorTextSize];
  uint8_t reserved;
  uint8_t supportsConfigs;  // 0/1
  uint32_t pollFlags;       // bit 0 information parsed, bit 1 software status obtained
  uint32_t respFlags;       // one bit per kind of response received
};

}  // namespace CANDeviceInterface1
