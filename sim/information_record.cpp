#include "sim/information_record.h"

#include <cstring>

namespace quor::tessera::sim {
namespace {

constexpr size_t kSerialHalfBytes = 8;

// The listing prints the serial most significant byte first; each half travels little-endian.
void PutSerialHalf(const uint8_t* mostSignificantFirst, uint8_t* littleEndian) {
  for (size_t i = 0; i < kSerialHalfBytes; ++i) {
    littleEndian[i] = mostSignificantFirst[kSerialHalfBytes - 1 - i];
  }
}

template <size_t N>
void PutString(const std::string& text, char (&field)[N]) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N - 1 ? text.size() : N - 1);
}

}  // namespace

InformationRecord BuildInformationRecord(const DeviceAttributes& device) {
  InformationRecord record{};
  record.code = kInformationAnswerCode;
  record.firmwareMajor = device.firmware[0];
  record.firmwareMinor = device.firmware[1];
  record.bootloaderMajor = device.bootloader.major;
  record.bootloaderMinor = device.bootloader.minor;
  PutSerialHalf(device.serial.data() + kSerialHalfBytes, record.serialLow);
  PutSerialHalf(device.serial.data(), record.serialHigh);
  record.manufactureDay = device.manufactured.day;
  record.manufactureMonth = device.manufactured.month;
  record.manufactureYear[0] = static_cast<uint8_t>(device.manufactured.year & 0xFF);
  record.manufactureYear[1] = static_cast<uint8_t>(device.manufactured.year >> 8);
  record.hardwareMajor = device.hardware.major;
  record.hardwareMinor = device.hardware.minor;
  record.modelCode = device.modelCode;
  if (device.firmwareParts == 4) {
    record.versionFormat = kFourPartVersionFormat;
    record.firmwareThird = device.firmware[2];
    record.firmwareFourth = device.firmware[3];
  } else {
    record.versionFormat = kTwoPartVersionFormat;
  }
  record.baseboardMajor = device.baseboard.major;
  record.baseboardMinor = device.baseboard.minor;
  PutString(device.reportedModel, record.model);
  PutString(device.reportedVendor, record.vendor);
  return record;
}

}  // namespace quor::tessera::sim
