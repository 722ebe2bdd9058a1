#pragma once
// The 97-byte information record (answer 0xF0) a device sends for the request 0xB0.
#include <cstddef>
#include <cstdint>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

#pragma pack(push, 1)
struct InformationRecord {
  uint8_t code;  // 0xF0
  uint8_t firmwareMajor;
  uint8_t firmwareMinor;
  uint8_t bootloaderMajor;
  uint8_t bootloaderMinor;
  uint8_t serialLow[8];  // little-endian: least significant byte first
  uint8_t manufactureDay;
  uint8_t manufactureMonth;
  uint8_t manufactureYear[2];  // little-endian
  uint8_t hardwareMajor;
  uint8_t hardwareMinor;
  uint8_t modelCode;
  uint8_t versionFormat;  // 4 = four-part firmware version
  uint8_t baseboardMajor;
  uint8_t baseboardMinor;
  uint8_t firmwareThird;
  uint8_t firmwareFourth;
  uint8_t serialHigh[8];  // little-endian
  char model[32];         // NUL-padded
  char vendor[32];        // NUL-padded
};
#pragma pack(pop)

static_assert(sizeof(InformationRecord) == 97, "the information record is 97 bytes on the wire");
static_assert(offsetof(InformationRecord, serialLow) == 5, "serial low half at byte 5");
static_assert(offsetof(InformationRecord, manufactureDay) == 13, "manufacture day at byte 13");
static_assert(offsetof(InformationRecord, modelCode) == 19, "model code at byte 19");
static_assert(offsetof(InformationRecord, firmwareThird) == 23, "third part at byte 23");
static_assert(offsetof(InformationRecord, serialHigh) == 25, "serial high half at byte 25");
static_assert(offsetof(InformationRecord, model) == 33, "model string at byte 33");
static_assert(offsetof(InformationRecord, vendor) == 65, "vendor string at byte 65");

constexpr uint8_t kInformationAnswerCode = 0xF0;
constexpr uint8_t kFourPartVersionFormat = 4;
constexpr uint8_t kTwoPartVersionFormat = 2;

InformationRecord BuildInformationRecord(const DeviceAttributes& device);

}  // namespace quor::tessera::sim
