#pragma once
// How the live-data objects address a motor controller: only the Harrier (device type 1) and
// Kestrel (2) lines take control frames and send the plotted status frames, and both objects
// key the device by the ID of its control frame.
#include <cstdint>

#include "device/can_id.h"
#include "device/product_codes.h"

namespace quor::tessera::diagnostics {

// The whole top byte counts, so an ID with stray bits above the 29 is no motor controller.
constexpr bool IsMotorController(uint32_t arbId) {
  const uint32_t type = arbId >> 24;
  return type == device_type::kHarrierHx || type == device_type::kMotorController;
}

// API class 0, index 8.
constexpr uint32_t kControlFrameApi = 0x0200;
// The device's type byte and number with manufacturer 4 and the control frame's API value.
constexpr uint32_t ControlFrameId(uint32_t arbId) {
  constexpr uint32_t kTypeAndNumber = 0xFF00003Fu;
  return (arbId & kTypeAndNumber) | can_id::ManufacturerField(can_id::kManufacturerQuor) |
         kControlFrameApi;
}
static_assert(ControlFrameId(0x02040001) == 0x02040201, "Kestrel 1's control frame");
static_assert(ControlFrameId(0xFFFFFFFF) == 0xFF04023F, "the kept bits");

}  // namespace quor::tessera::diagnostics
