// The name a device is shown under: its custom name when it has one, else model and number.
#include "device/product_codes.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"

namespace {

constexpr const char* kUnknownNode = "Node ";
constexpr const char* kKestrelKx = "Kestrel KX ";

// Text of the reported model followed by a space, or the fallback when none was reported.
std::string ReportedOr(const _Device& device, const char* fallback) {
  const std::string reported = TextFieldValue(device.reportedModel);
  return reported.empty() ? std::string(fallback) : reported + " ";
}

std::string TypePrefix(const _Device& device) {
  switch (device.deviceType) {
    case device_type::kHarrierHx: return "Harrier HX ";
    case device_type::kCanTap: return "CANtap ";
    case device_type::kPdp: return "PDP ";
    case device_type::kPcm: return "PCM ";
    case device_type::kMonsoon: return "MONSOON ";
    case device_type::kWren: return "Wren ";
    default:
      return ReportedOr(device,
                        device.deviceType == device_type::kMotorController ? kKestrelKx
                                                                           : kUnknownNode);
  }
}

std::string NameBase(const _Device& device) {
  switch (device.modelCode) {
    case model_code::kPcm: return "PCM ";
    case model_code::kPdp: return "PDP ";
    case model_code::kKestrelKx: return kKestrelKx;
    case model_code::kMonsoon: return "MONSOON ";
    case model_code::kWren: return "Wren ";
    case model_code::kCanTap: return "CANtap ";
    case model_code::kHarrierHx: return "Harrier HX ";
    default: return ReportedOr(device, kUnknownNode);
  }
}

}  // namespace

int QuorDeviceInterface::UpdateDevName(_Device& device) {
  DeviceDescriptor& descriptor = device.descriptor;
  const uint32_t customNameFlags = resp_flag::kCustomNameSupported | resp_flag::kName;
  const std::string customName = TextFieldValue(device.customName);
  if (FlagReceived(&descriptor.respFlags, customNameFlags) && !customName.empty()) {
    SetTextField(descriptor.name, customName);
    descriptor.respFlags |= resp_flag::kCustomNameInUse;
    return 0;
  }

  const std::string idText =
      StringPrintf("(Device ID %i)", static_cast<int>(can_id::DeviceNumber(descriptor.arbId)));
  std::string typePrefix = TypePrefix(device);
  std::string name;
  if (device.deviceType == device_type::kMotorController && device.modelCode == model_code::kWren) {
    // An IMU answering through a motor controller's ribbon cable.
    typePrefix = kKestrelKx;
    name = "Wren connected to " + typePrefix + idText;
  } else {
    name = NameBase(device) + idText;
  }
  SetTextField(device.typePrefix, typePrefix);
  SetTextField(descriptor.name, name);
  descriptor.respFlags &= ~resp_flag::kCustomNameInUse;
  return 0;
}
