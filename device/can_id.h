#pragma once
// Fields of the 29-bit arbitration IDs every device of ours uses, and the decoding of the IDs
// that carry ISO-15765 answers.
#include <cstdint>

namespace can_id {

constexpr uint32_t kManufacturerQuor = 4;  // every device this engine talks to
constexpr uint32_t kApiIndexMask = 0x000003C0;
constexpr uint32_t kDeviceNumberMask = 0x0000003F;

constexpr uint32_t DeviceType(uint32_t id) { return (id >> 24) & 0x1F; }
constexpr uint32_t Manufacturer(uint32_t id) { return (id >> 16) & 0xFF; }
constexpr uint32_t ApiClass(uint32_t id) { return (id >> 10) & 0x3F; }
constexpr uint32_t ApiIndex(uint32_t id) { return (id >> 6) & 0x0F; }
constexpr uint32_t DeviceNumber(uint32_t id) { return id & kDeviceNumberMask; }
// The key the engine files a device under: the ID with its API index cleared.
constexpr uint32_t BaseId(uint32_t id) { return id & ~kApiIndexMask; }

}  // namespace can_id

// Where an ISO-15765 answer came from.
struct _DecodedHeader {
  uint32_t arbId;      // the ID as received
  uint32_t dynamic;    // 1: sent from a dynamic ID, translate through the dynamic-ID server
  uint32_t alternate;  // 1: sent on the device's alternate channel (API class 0x3D or 0x3C)
};

// True for the four answer channels of a manufacturer-4 device; fills `out` either way.
bool QUOR_CANID_Decode(uint32_t id, _DecodedHeader& out);
