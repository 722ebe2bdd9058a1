#pragma once
// Where the simulated firmware keeps its own version inside its application image: a small
// record at a fixed flash address, read by the bootloader when it starts the application. An
// image without it runs as version 0.0.
#include <array>
#include <cstdint>
#include <optional>

#include "core/device_firmware_constants.h"

namespace quor::tessera::sim {

// Every simulated family's application region: [kApplicationStart, kApplicationEnd).
using core::firmware_constants::kApplicationEnd;
using core::firmware_constants::kApplicationStart;

// The record sits after the vector table: magic "TVER", number of parts (2 or 4), then
// major, minor, third, fourth.
constexpr uint32_t kVersionRecordAddress = kApplicationStart + 0x100;
constexpr uint8_t kVersionRecordBytes = 9;
constexpr std::array<uint8_t, 4> kVersionRecordMagic = {'T', 'V', 'E', 'R'};

struct ImageVersion {
  uint8_t parts = 2;
  std::array<uint8_t, 4> version{};
};

// Writes the record into `record` (kVersionRecordBytes).
void PutVersionRecord(uint8_t* record, const ImageVersion& version);
// The version of a record, or nothing when it is not one.
std::optional<ImageVersion> ReadVersionRecord(const uint8_t* record);

}  // namespace quor::tessera::sim
