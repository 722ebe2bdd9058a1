#include "device/info_record.h"

#include <cstring>

namespace {

// Byte positions, counted from the answer code (byte 0).
constexpr uint32_t kFirmwareMajorAt = 1;
constexpr uint32_t kFirmwareMinorAt = 2;
constexpr uint32_t kBootloaderMajorAt = 3;
constexpr uint32_t kBootloaderMinorAt = 4;
constexpr uint32_t kSerialLowAt = 5;
constexpr uint32_t kDayAt = 13;
constexpr uint32_t kMonthAt = 14;
constexpr uint32_t kYearAt = 15;
constexpr uint32_t kHardwareMajorAt = 17;
constexpr uint32_t kHardwareMinorAt = 18;
constexpr uint32_t kModelCodeAt = 19;
constexpr uint32_t kVersionFormatAt = 20;
constexpr uint32_t kBaseboardMajorAt = 21;
constexpr uint32_t kBaseboardMinorAt = 22;
constexpr uint32_t kFirmwareThirdAt = 23;
constexpr uint32_t kFirmwareFourthAt = 24;
constexpr uint32_t kSerialHighAt = 25;
constexpr uint32_t kModelAt = 33;
constexpr uint32_t kVendorAt = 65;
static_assert(kVendorAt + InfoRecord::kTextLength == InfoRecord::kWireLength,
              "the vendor string ends the record");

}  // namespace

InfoRecord ParseInfoRecord(const uint8_t* message, uint32_t length) {
  uint8_t wire[InfoRecord::kWireLength] = {};
  if (message != nullptr)
    std::memcpy(wire, message, length < sizeof wire ? length : sizeof wire);

  InfoRecord record{};
  record.firmwareMajor = wire[kFirmwareMajorAt];
  record.firmwareMinor = wire[kFirmwareMinorAt];
  record.firmwareThird = wire[kFirmwareThirdAt];
  record.firmwareFourth = wire[kFirmwareFourthAt];
  record.bootloaderMajor = wire[kBootloaderMajorAt];
  record.bootloaderMinor = wire[kBootloaderMinorAt];
  std::memcpy(record.serialLow, wire + kSerialLowAt, sizeof record.serialLow);
  std::memcpy(record.serialHigh, wire + kSerialHighAt, sizeof record.serialHigh);
  record.day = wire[kDayAt];
  record.month = wire[kMonthAt];
  record.year = static_cast<uint16_t>(wire[kYearAt] | (wire[kYearAt + 1] << 8));
  record.hardwareMajor = wire[kHardwareMajorAt];
  record.hardwareMinor = wire[kHardwareMinorAt];
  record.modelCode = wire[kModelCodeAt];
  record.versionFormat = wire[kVersionFormatAt];
  record.baseboardMajor = wire[kBaseboardMajorAt];
  record.baseboardMinor = wire[kBaseboardMinorAt];
  // Keep at most 31 characters; the last byte stays 0.
  std::memcpy(record.model, wire + kModelAt, InfoRecord::kTextLength - 1);
  std::memcpy(record.vendor, wire + kVendorAt, InfoRecord::kTextLength - 1);
  return record;
}
