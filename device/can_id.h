#pragma once
// Fields of the 29-bit arbitration IDs every device of ours uses: device type (bits 28..24),
// manufacturer (23..16), API class (15..10), API index (9..6) and device number (5..0). Reading
// a field, encoding one, and replacing fields of an ID; the IDs the engine talks on are built
// from these in device/engine_wire.h. Also the decoding of the IDs that carry ISO-15765 answers.
#include <cstdint>

namespace can_id {

constexpr uint32_t kManufacturerQuor = 4;  // every device this engine talks to

constexpr uint32_t kDeviceTypeMask = 0x1F000000;
constexpr uint32_t kManufacturerMask = 0x00FF0000;
constexpr uint32_t kApiClassMask = 0x0000FC00;
constexpr uint32_t kApiIndexMask = 0x000003C0;
constexpr uint32_t kDeviceNumberMask = 0x0000003F;
constexpr uint32_t kBroadcastDeviceNumber = 63;  // a number no device may take

constexpr uint32_t DeviceType(uint32_t id) { return (id >> 24) & 0x1F; }
constexpr uint32_t Manufacturer(uint32_t id) { return (id >> 16) & 0xFF; }
constexpr uint32_t ApiClass(uint32_t id) { return (id >> 10) & 0x3F; }
constexpr uint32_t ApiIndex(uint32_t id) { return (id >> 6) & 0x0F; }
constexpr uint32_t DeviceNumber(uint32_t id) { return id & kDeviceNumberMask; }
// The key the engine files a device under: the ID with its API index cleared.
constexpr uint32_t BaseId(uint32_t id) { return id & ~kApiIndexMask; }

// Each field moved into its place (callers pass values that fit the field).
constexpr uint32_t DeviceTypeField(uint32_t type) { return type << 24; }
constexpr uint32_t ManufacturerField(uint32_t manufacturer) { return manufacturer << 16; }
constexpr uint32_t ApiClassField(uint32_t apiClass) { return apiClass << 10; }
constexpr uint32_t ApiIndexField(uint32_t apiIndex) { return apiIndex << 6; }

constexpr uint32_t Make(uint32_t deviceType, uint32_t manufacturer, uint32_t apiClass,
                        uint32_t apiIndex, uint32_t deviceNumber) {
  return DeviceTypeField(deviceType) | ManufacturerField(manufacturer) | ApiClassField(apiClass) |
         ApiIndexField(apiIndex) | deviceNumber;
}
// A manufacturer-4 ID.
constexpr uint32_t MakeQuor(uint32_t deviceType, uint32_t apiClass, uint32_t apiIndex,
                            uint32_t deviceNumber) {
  return Make(deviceType, kManufacturerQuor, apiClass, apiIndex, deviceNumber);
}

// The same ID on another API class, keeping its index.
constexpr uint32_t WithApiClass(uint32_t id, uint32_t apiClass) {
  return (id & ~kApiClassMask) | ApiClassField(apiClass);
}
// The same ID on another API class and index.
constexpr uint32_t WithApi(uint32_t id, uint32_t apiClass, uint32_t apiIndex) {
  return (id & ~(kApiClassMask | kApiIndexMask)) | ApiClassField(apiClass) |
         ApiIndexField(apiIndex);
}
// The device type and manufacturer of an ID, every other field cleared.
constexpr uint32_t TypeAndManufacturer(uint32_t id) {
  return id & ~(kApiClassMask | kApiIndexMask | kDeviceNumberMask);
}

}  // namespace can_id

// Where an ISO-15765 answer came from.
struct _DecodedHeader {
  uint32_t arbId;      // the ID as received
  uint32_t dynamic;    // 1: sent from a dynamic ID, translate through the dynamic-ID server
  uint32_t alternate;  // 1: sent on the device's alternate channel (API class 0x3D or 0x3C)
};

// True for the four answer channels of a manufacturer-4 device; fills `out` either way.
bool QUOR_CANID_Decode(uint32_t id, _DecodedHeader& out);
