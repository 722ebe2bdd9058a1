// Turning an information record (0xF0) into the texts of a device's descriptor.
#include <cstring>

#include "device/info_record.h"
#include "device/product_codes.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"

namespace {

constexpr const char* kMonthNames[] = {"Jan", "Feb",  "Mar", "Apr", "May", "June",
                                       "July", "Aug", "Sept", "Oct", "Nov", "Dec"};
constexpr uint16_t kAlphaYear = 2013;
constexpr uint16_t kBetaYear = 2014;
constexpr uint8_t kFirstReleaseMonthOfBetaYear = 8;
constexpr uint16_t kLastYearWithoutDynIds = 2015;
constexpr uint32_t kFirstBootloaderWithDynIds = 0x0203;  // major * 256 + minor
constexpr uint8_t kDebugBootloaderMajor = 255;
constexpr uint8_t kErasedFirmware = 255;
constexpr uint8_t kUnsetBaseboard = 255;
constexpr uint32_t kRibbonCableBit = 1u << 25;  // an IMU reached through a motor controller
constexpr const char* kDefaultVendor = "Brightwater Controls";
constexpr const char* kNorthgateVendor = "Northgate Robotics";

std::string ManufactureDateText(const InfoRecord& record) {
  std::string text;
  if (record.month >= 1 && record.month <= 12) {
    text = StringPrintf("%s %i, %i", kMonthNames[record.month - 1], record.day, record.year);
  } else {
    text = StringPrintf("%i/%i/%i", record.year, record.month, record.day);
  }
  if (record.year == kBetaYear && record.month < kFirstReleaseMonthOfBetaYear) text += " (Beta)";
  if (record.year == kAlphaYear) text += " (Alpha)";
  return text;
}

std::string BootloaderText(const InfoRecord& record) {
  const uint32_t version = record.bootloaderMajor * 256u + record.bootloaderMinor;
  if (record.year <= kLastYearWithoutDynIds && version < kFirstBootloaderWithDynIds)
    return StringPrintf("%i.%i (no support for dynIds)", record.bootloaderMajor,
                        record.bootloaderMinor);
  return StringPrintf("%i.%i", record.bootloaderMajor, record.bootloaderMinor);
}

// Most significant byte first.
std::string SerialHalfText(const uint8_t (&half)[8]) {
  return StringPrintf("%02X%02X%02X%02X%02X%02X%02X%02X", half[7], half[6], half[5], half[4],
                      half[3], half[2], half[1], half[0]);
}

std::string FirmwareText(const InfoRecord& record) {
  std::string text;
  if (record.versionFormat >= InfoRecord::kFourPartVersionFormat) {
    text = StringPrintf("%i.%i.%i.%i", record.firmwareMajor, record.firmwareMinor,
                        record.firmwareThird, record.firmwareFourth);
  } else {
    text = StringPrintf("%i.%i", record.firmwareMajor, record.firmwareMinor);
  }
  if (record.bootloaderMajor == kDebugBootloaderMajor) {
    text += " (Debug Build)";
  } else if (record.firmwareMajor == kErasedFirmware && record.firmwareMinor == kErasedFirmware) {
    text += " (No firmware)";
  }
  return text;
}

std::string ModelFromCode(uint32_t modelCode, uint32_t arbId) {
  switch (modelCode) {
    case model_code::kPcm: return "PCM";
    case model_code::kPdp: return "PDP";
    case model_code::kKestrelKx: return "Kestrel KX";
    case model_code::kMonsoon: return "MONSOON";
    case model_code::kWren: return (arbId & kRibbonCableBit) ? "Wren Over Ribbon" : "Wren";
    case model_code::kCanTap: return "CANtap";
    case model_code::kHarrierHx: return "Harrier HX";
    default: return StringPrintf("Model:%i", static_cast<int>(modelCode));
  }
}

}  // namespace

void QuorDeviceInterface::UpdateInfo(_Device* device, uint32_t id, const uint8_t* message,
                                     uint32_t length, const _DecodedHeader& /*header*/) {
  if (device == nullptr) {
    diag_printf("Information answer from unknown device %x ignored\n", id);
    return;
  }
  const InfoRecord record = ParseInfoRecord(message, length);
  DeviceDescriptor& descriptor = device->descriptor;

  SetTextField(descriptor.manDate, ManufactureDateText(record));
  SetTextField(descriptor.bootloaderRev, BootloaderText(record));
  SetTextField(descriptor.serialNo, SerialHalfText(record.serialHigh) + SerialHalfText(record.serialLow));

  std::string firmware = FirmwareText(record);
  if (dhcp_.GetDynamicIdCount(descriptor.arbId) == 0) firmware += " (no dynId support)";
  SetTextField(descriptor.currentVers, firmware);
  SetTextField(device->reportedVers, firmware);
  descriptor.versionParts = record.versionFormat >= InfoRecord::kFourPartVersionFormat ? 4 : 2;

  descriptor.respFlags |= resp_flag::kInfo;
  {
    // A self-test copies these without the device-interface lock.
    std::lock_guard<std::mutex> hold(tableMutex_);
    device->modelCode = record.modelCode;
    device->firmwareMajor = record.firmwareMajor;
    device->firmwareMinor = record.firmwareMinor;
    device->firmwareThird = record.firmwareThird;
    device->firmwareFourth = record.firmwareFourth;
    device->deviceType = static_cast<uint8_t>(can_id::DeviceType(id));
  }
  SetTextField(device->reportedModel, record.model);
  SetTextField(device->reportedVendor, record.vendor);

  FillModelAndDevName(*device, device->deviceType, record.modelCode, record.hardwareMajor,
                      record.hardwareMinor, record.baseboardMajor, record.baseboardMinor);
  descriptor.softStatus[0] = '\0';
  FillVendor(*device, device->deviceType);
}

void QuorDeviceInterface::FillModelAndDevName(_Device& device, uint8_t deviceType,
                                              uint32_t modelCode, uint8_t hardwareMajor,
                                              uint8_t hardwareMinor, uint8_t baseboardMajor,
                                              uint8_t baseboardMinor) {
  DeviceDescriptor& descriptor = device.descriptor;
  std::string hardware = StringPrintf("%i.%i", hardwareMajor, hardwareMinor);
  if (deviceType == device_type::kPcm && hardwareMajor == 1 && hardwareMinor == 1) {
    hardware = "1.1 - 1.3";  // these revisions report alike
  } else if (deviceType == device_type::kPdp && baseboardMajor != 0 &&
             baseboardMajor != kUnsetBaseboard && baseboardMinor != 0 &&
             baseboardMinor != kUnsetBaseboard) {
    hardware = StringPrintf("Smart Module %i.%i, Baseboard %i.%i", hardwareMajor, hardwareMinor,
                            baseboardMajor, baseboardMinor);
  }
  SetTextField(descriptor.hardwareRev, hardware);

  const std::string reported = TextFieldValue(device.reportedModel);
  SetTextField(descriptor.model,
               reported.empty() ? ModelFromCode(modelCode, descriptor.arbId) : reported);
  UpdateDevName(device);
}

void QuorDeviceInterface::FillVendor(_Device& device, uint8_t deviceType) {
  std::string vendor;
  switch (deviceType) {
    case device_type::kHarrierHx:
      vendor = kNorthgateVendor;
      break;
    case device_type::kCanTap:
    case device_type::kPdp:
    case device_type::kPcm:
    case device_type::kMonsoon:
    case device_type::kWren:
      vendor = kDefaultVendor;
      break;
    default:
      vendor = TextFieldValue(device.reportedVendor);
      if (vendor.empty()) vendor = kDefaultVendor;
      break;
  }
  SetTextField(device.descriptor.vendor, vendor);
}
