// A device's configuration image: fetched during each refresh, handed out whole without the
// device-interface lock, written and read back.
//
// Invariants:
//  - getConfigParameters copies only a device's `wholeConfig`, under the table lock, so every
//    copy is one whole image: never one the dispatcher is still filling, never a cut one.
//  - `wholeConfig` changes only when a fetch ends with an image that arrived whole: complete,
//    with the length and format marker of the device model's image. A getconfig while a
//    refresh re-reads the image gets the previous one, and so does one after a fetch the device
//    did not answer or answered short: -128 means that no whole image ever arrived.
//  - saveConfigParameters succeeds only when the device acknowledged the write and a whole
//    image came back; the caller compares that image with what it sent.
//  - saveConfigParameters closes the frame layer, returns the engine to idle and cranks the
//    timing on every path once it has opened the layer.
#include <algorithm>
#include <cstring>

#include "config/config_group_serializer.h"
#include "core/string_util.h"
#include "device/can_frame_layer.h"
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"

namespace {

constexpr int kReadTimeout_ms = 500;
constexpr int kReadBackAttempts = 2;
// Counted from the moment the last frame of the image has left, however long the transfer took.
constexpr int kWriteTimeout_ms = 200;
constexpr int kAckStep_us = 3000;
constexpr uint16_t kReceiveBufferSize = 500;  // the read-back of the largest image fits
// The write request (its code, then the image) is built in a buffer of this size, with room
// for a few bytes beside the largest image the holder may carry.
constexpr uint32_t kWriteRequestBufferSize = 5000;
constexpr uint32_t kWriteRequestRoom = 10;
constexpr uint32_t kWriteRequestHeader = 1;

void CopyImage(const ConfigByteArray& from, ConfigByteArray& to) {
  const uint32_t count = std::min({to.capacity, from.length, ConfigByteArray::kMaxBytes});
  std::memcpy(to.data, from.data, count);
  to.length = count;
}

}  // namespace

bool QuorDeviceInterface::ReadConfiguration(_Device& device, _Iso15765_t* iso, uint8_t* buffer,
                                            uint16_t capacity) {
  static const uint8_t kFourPartRequest[] = {request_code::kSubCoded, sub_code::kConfigRead};
  static const uint8_t kTwoPartRequest[] = {request_code::kConfigRead};
  const bool fourPart = device.descriptor.versionParts == 4;
  RequestAndWait(iso, buffer, capacity, &device.descriptor,
                 fourPart ? kFourPartRequest : kTwoPartRequest,
                 fourPart ? sizeof kFourPartRequest : sizeof kTwoPartRequest,
                 resp_flag::kConfigReceived, kReadTimeout_ms);
  return PublishConfiguration(device);
}

bool QuorDeviceInterface::PublishConfiguration(_Device& device) {
  // The received bit is set only for a block that fitted the buffer. (A block cut to the buffer
  // cannot arrive: a transfer carries at most 4095 bytes.)
  const bool complete =
      (device.descriptor.respFlags & resp_flag::kConfigReceived) && device.config->length > 0;
  if (!complete) return false;
  // A block of another length, or without the model's marker, is no image of this device:
  // shown or written back, its missing fields would read as zeros.
  const std::string model = quor::tessera::string_util::toLower(TextFieldValue(device.descriptor.model));
  if (!quor::tessera::diagnostics::config2::ConfigGroupSerializer::IsWholeImage(model, *device.config)) {
    diag_printf("configuration of %s: %u bytes that are not a whole image of the model, ignored\n",
                TextFieldValue(device.descriptor.name).c_str(), device.config->length);
    return false;
  }
  std::lock_guard<std::mutex> hold(tableMutex_);
  CopyImage(*device.config, device.wholeConfig);
  return true;
}

int QuorDeviceInterface::getConfigParameters(const DeviceDescriptor* descriptor,
                                             ConfigByteArray& out) {
  out.length = 0;
  std::lock_guard<std::mutex> hold(tableMutex_);
  const _Device* device = descriptor ? GetDevice(descriptor->arbId) : nullptr;
  if (device == nullptr) return QUOR_DI_InvalidDeviceSpec;
  if (device->wholeConfig.length == 0) return QUOR_DI_NoConfigs;
  CopyImage(device->wholeConfig, out);
  return QUOR_DI_OKAY;
}

int QuorDeviceInterface::WriteConfiguration(_Iso15765_t* iso, _Device& device,
                                            const ConfigByteArray& image) {
  // The transport sends from this buffer without copying it; it is done with it once the
  // device acknowledged, and the read-back sets the instance up afresh.
  uint8_t request[kWriteRequestBufferSize];
  const uint32_t length = std::min({image.length, image.capacity, ConfigByteArray::kMaxBytes});
  request[0] = request_code::kConfigWrite;
  std::memcpy(request + kWriteRequestHeader, image.data, length);
  // Frames leave with the separation time the device asks for between them, and the wait for
  // the acknowledgement starts when the last one has left.
  iso->options |= ISO15765_OPT_PACED;
  // A message the transport cannot carry (over 4095 bytes) is refused and never acknowledged.
  return SendAndWait(iso, device.descriptor, request, static_cast<uint16_t>(length + kWriteRequestHeader),
                     resp_flag::kConfigWriteAck, kWriteTimeout_ms, kAckStep_us)
             ? QUOR_DI_OKAY
             : QUOR_DI_ConfigWriteNotAcknowledged;
}

int QuorDeviceInterface::saveConfigParameters(const DeviceDescriptor* descriptor,
                                              const ConfigByteArray& image,
                                              ConfigByteArray& readBack) {
  readBack.length = 0;
  if (image.capacity + kWriteRequestRoom > kWriteRequestBufferSize) return QUOR_DI_CompileSzIsWrong;
  CAN_Init(frame_filter::kAllDevices, 0);
  state_ = kIdle;
  _Device* device = descriptor ? GetDevice(descriptor->arbId) : nullptr;
  int result = QUOR_DI_OKAY;
  if (device == nullptr) {
    result = QUOR_DI_InvalidDeviceSpec;
  } else if (!(device->descriptor.respFlags & resp_flag::kConfigReadable)) {
    result = QUOR_DI_FeatureNotSupported;
  }
  if (result == QUOR_DI_OKAY) {
    _Iso15765_t iso;
    uint8_t buffer[kReceiveBufferSize];
    dhcp_.LookupDynId(device->descriptor.arbId, device->descriptor.dynamicId);
    state_ = kDeviceCommand;
    result = PresenceCheck(&iso, buffer, sizeof buffer, *device);
    if (result == QUOR_DI_OKAY) result = WriteConfiguration(&iso, *device, image);
    if (result == QUOR_DI_OKAY) {
      // The device may send the image back as fast as it can (the listing's throttle would pace
      // it at up to 5 ms a frame), and is asked once more before the write counts as unverified:
      // without a whole image back, what the device now holds is unknown, and that is no success.
      CrankMaxPerformance();
      bool whole = false;
      for (int attempt = 0; attempt < kReadBackAttempts && !whole; ++attempt) {
        whole = (device->descriptor.respFlags & resp_flag::kConfigReadable) &&
                ReadConfiguration(*device, &iso, buffer, sizeof buffer);
      }
      if (whole) {
        CopyImage(*device->config, readBack);
      } else {
        diag_printf("configuration write to %s: acknowledged, but no whole image came back\n",
                    TextFieldValue(device->descriptor.name).c_str());
        result = QUOR_DI_TimeoutIso15Response;
      }
    }
  }
  EndCommand(result);
  CrankMaxPerformance();
  return result;
}
