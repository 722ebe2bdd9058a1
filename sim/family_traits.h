#pragma once
// What is fixed per device family: the bus identity, the model code and strings its firmware
// reports, its configuration image and the defaults a device file may leave out.
#include <cstdint>
#include <string>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

struct FamilyTraits {
  DeviceFamily family;
  const char* fileName;        // the "family" value of device files
  uint8_t deviceType;          // bits 28..24 of every ID the device uses
  const char* listedModel;     // the model the server lists for it
  uint8_t modelCode;           // information record byte 19
  const char* reportedModel;   // information record model string ("" = rely on the code)
  const char* reportedVendor;  // information record vendor string
  uint16_t configImageLength;  // 0 = no readable configuration
  uint8_t configFormatMarker;  // image position 0
  // Defaults for attributes a device file leaves out.
  const char* defaultFirmware;
  TwoPartVersion defaultBootloader;
  TwoPartVersion defaultHardware;
};

const FamilyTraits& TraitsOf(DeviceFamily family);
// Looks a family up by its device-file name, in any case; nullptr when unknown.
const FamilyTraits* FindFamilyByFileName(const std::string& name);
// "pdp", "pcm", ... joined with ", " for error messages.
std::string KnownFamilyNames();

}  // namespace quor::tessera::sim
