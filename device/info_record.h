#pragma once
// The information record a device sends in answer to 0xB0 (answer code 0xF0), parsed into a
// plain struct before anything acts on it.
#include <cstdint>

struct InfoRecord {
  static constexpr uint32_t kWireLength = 97;  // longer answers are cut, shorter ones zero-filled
  static constexpr uint32_t kTextLength = 32;  // model and vendor fields on the wire
  static constexpr uint8_t kFourPartVersionFormat = 4;

  uint8_t firmwareMajor;
  uint8_t firmwareMinor;
  uint8_t firmwareThird;
  uint8_t firmwareFourth;
  uint8_t bootloaderMajor;
  uint8_t bootloaderMinor;
  uint8_t serialLow[8];   // little-endian
  uint8_t serialHigh[8];  // little-endian
  uint8_t day;
  uint8_t month;          // 1..12 when valid
  uint16_t year;
  uint8_t hardwareMajor;
  uint8_t hardwareMinor;
  uint8_t modelCode;
  uint8_t versionFormat;  // 4 or more: four-part firmware version
  uint8_t baseboardMajor;
  uint8_t baseboardMinor;
  char model[kTextLength];   // NUL-terminated, at most 31 characters
  char vendor[kTextLength];  // NUL-terminated, at most 31 characters
};

// `message` starts with the answer code; missing bytes read as 0.
InfoRecord ParseInfoRecord(const uint8_t* message, uint32_t length);
