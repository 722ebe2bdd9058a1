// Rivuduvoz clients: devices that answer through another device's port, filed under that
// device's alternate-channel ID (API class 0x3D).
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "runtime/event.h"

namespace {

constexpr uint16_t kClientBufferSize = 200;

}  // namespace

_Device* QuorDeviceInterface::findRivuduvozServer(uint32_t id) {
  if (can_id::ApiClass(id) != api_class::kDevice) return nullptr;
  return GetDevice(engine_id::AlternateId(id));
}

int QuorDeviceInterface::RivuduvozClient_StatusUpdate(DeviceDescriptor& descriptor, bool present,
                                                      const Event& cancel) {
  const uint32_t clientId = engine_id::AlternateId(descriptor.arbId);
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
  if (cancel.WaitForSignalSet(0)) return QUOR_DI_ListingCancelled;
  if (PollInfoForDevice(&iso, buffer, sizeof buffer, &clientDescriptor, cancel) != 0)
    return QUOR_DI_ListingCancelled;
  if (cancel.WaitForSignalSet(0)) return QUOR_DI_ListingCancelled;
  BuildSoftwareStatus(&iso, buffer, sizeof buffer, &clientDescriptor);
  return 0;
}
