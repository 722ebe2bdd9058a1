#pragma once
// Device types (bits 28..24 of an arbitration ID) and the model codes of information records.
#include <cstdint>

namespace device_type {
constexpr uint8_t kHarrierHx = 1;
constexpr uint8_t kMotorController = 2;  // Kestrel family
constexpr uint8_t kCanTap = 3;
constexpr uint8_t kCanDial = 5;
constexpr uint8_t kPdp = 8;
constexpr uint8_t kPcm = 9;
constexpr uint8_t kMonsoon = 11;
constexpr uint8_t kWren = 21;
}  // namespace device_type

namespace model_code {
constexpr uint32_t kPcm = 4;
constexpr uint32_t kPdp = 5;
constexpr uint32_t kKestrelKx = 9;
constexpr uint32_t kMonsoon = 11;
constexpr uint32_t kWren = 13;
constexpr uint32_t kCanTap = 15;
constexpr uint32_t kHarrierHx = 16;
}  // namespace model_code
