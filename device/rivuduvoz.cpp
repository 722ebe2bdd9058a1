// Rivuduvoz clients: devices that answer through another device's port, filed under that
// device's alternate-channel ID (API class 0x3D).
#include "device/quor_device_interface.h"
#include "runtime/event.h"

namespace {

constexpr uint32_t kDeviceClass = 0x3F;
constexpr uint16_t kClientBufferSize = 200;
constexpr int kCancelled = -800;

// The same device type and number on API class 0x3D, index 0.
constexpr uint32_t AlternateId(uint32_t id) { return (id & 0xFFFFF43F) | 0xF400; }

}  // namespace

_Device* QuorDeviceInterface::findRivuduvozServer(uint32_t id) {
  if (can_id::ApiClass(id) != kDeviceClass) return nullptr;
  return GetDevice(AlternateId(id));
}

int QuorDeviceInterface::RivuduvozClient_StatusUpdate(DeviceDescriptor& descriptor, bool present,
                                                      const Event& cancel) {
  const uint32_t clientId = AlternateId(descriptor.arbId);
  if (!present) {
    if (_Device* client = GetDevice(clientId)) {
      client->descriptor.respFlags &= ~resp_flag::kInfo;
      client->descriptor.pollFlags &= ~(poll_flag::kInfoParsed | poll_flag::kStatusObtained);
    }
    return 0;
  }
  _Device* client = InsertFoundDevice(clientId, 0);
  DeviceDescriptor& clientDescriptor = client->descriptor;
  clientDescriptor.respFlags |= resp_flag::kRivuduvozClient;
  uint32_t dynamicId = 0;
  if (dhcp_.LookupDynId(clientId, dynamicId) == 0) return 0;
  clientDescriptor.dynamicId = dynamicId;
  if (FlagReceived(&clientDescriptor.pollFlags,
                   poll_flag::kInfoParsed | poll_flag::kStatusObtained))
    return 0;
  _Iso15765_t iso;
  uint8_t buffer[kClientBufferSize];
  if (cancel.WaitForSignalSet(0)) return kCancelled;
  if (PollInfoForDevice(&iso, buffer, sizeof buffer, &clientDescriptor, cancel) != 0)
    return kCancelled;
  if (cancel.WaitForSignalSet(0)) return kCancelled;
  BuildSoftwareStatus(&iso, buffer, sizeof buffer, &clientDescriptor);
  return 0;
}
