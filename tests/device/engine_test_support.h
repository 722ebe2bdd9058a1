#pragma once
// Building device answers for engine tests: information records byte by byte, and IDs in the
// forms devices answer from.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace engine_test {

// Answer ID of a device on its own ID: API class 0x3F, index 1.
constexpr uint32_t AnswerId(uint32_t baseId) { return baseId | 0x40; }
// Base ID (API class 0x3F, index 0) of a manufacturer-4 device.
constexpr uint32_t DeviceId(uint32_t deviceType, uint32_t number) {
  return (deviceType << 24) | 0x0004FC00 | number;
}

struct InfoFields {
  uint8_t firmware[4] = {20, 1, 0, 0};
  uint8_t bootloader[2] = {2, 5};
  uint64_t serialLow = 0;
  uint64_t serialHigh = 0;
  uint8_t day = 5;
  uint8_t month = 3;
  uint16_t year = 2017;
  uint8_t hardware[2] = {1, 4};
  uint8_t modelCode = 9;
  uint8_t versionFormat = 2;
  uint8_t baseboard[2] = {0, 0};
  std::string model;
  std::string vendor;
};

// A complete 0xF0 answer (97 bytes).
inline std::vector<uint8_t> InfoAnswer(const InfoFields& f) {
  std::vector<uint8_t> m(97, 0);
  m[0] = 0xF0;
  m[1] = f.firmware[0];
  m[2] = f.firmware[1];
  m[3] = f.bootloader[0];
  m[4] = f.bootloader[1];
  for (int i = 0; i < 8; ++i) m[5 + i] = static_cast<uint8_t>(f.serialLow >> (8 * i));
  m[13] = f.day;
  m[14] = f.month;
  m[15] = static_cast<uint8_t>(f.year & 0xFF);
  m[16] = static_cast<uint8_t>(f.year >> 8);
  m[17] = f.hardware[0];
  m[18] = f.hardware[1];
  m[19] = f.modelCode;
  m[20] = f.versionFormat;
  m[21] = f.baseboard[0];
  m[22] = f.baseboard[1];
  m[23] = f.firmware[2];
  m[24] = f.firmware[3];
  for (int i = 0; i < 8; ++i) m[25 + i] = static_cast<uint8_t>(f.serialHigh >> (8 * i));
  std::memcpy(&m[33], f.model.data(), f.model.size() < 32 ? f.model.size() : 32);
  std::memcpy(&m[65], f.vendor.data(), f.vendor.size() < 32 ? f.vendor.size() : 32);
  return m;
}

}  // namespace engine_test
