// One-shot commands on one device: new device number, custom name, LED blink with sticky-fault
// clear, factory defaults, IMU calibration.
//
// Every ISO-15765 command opens the frame layer, finds the device by the caller's arbId,
// addresses it through its current dynamic ID, checks that it answers, and closes the layer
// and returns the engine to idle on every path (EndCommand).
#include <cstring>
#include <string>
#include <thread>

#include "core/string_util.h"
#include "device/can_frame_layer.h"
#include "device/error_codes.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/request_codes.h"

namespace {

constexpr uint8_t kFilterModeAllDevices = 1;
constexpr uint16_t kCommandBufferSize = 10;
constexpr uint16_t kNameBufferSize = 4096;
constexpr int kStepPause_us = 3000;

constexpr int kPresenceTimeout_ms = 20;
constexpr int kSetNumberTimeout_ms = 50;
constexpr int kSetNumberAttempts = 2;
constexpr int kConfirmNumberPause_ms = 333;
constexpr int kConfirmNumberTimeout_ms = 200;
constexpr int kStoreNameTimeout_ms = 80;
constexpr int kReadNameTimeout_ms = 200;
constexpr int kBlinkTimeout_ms = 50;
constexpr int kSubCodedTimeout_ms = 50;

constexpr unsigned kFirstInvalidDeviceNumber = 63;
constexpr size_t kMaxNameLength = 197;
constexpr uint32_t kNumberBitsMask = 0xFFFFFC00;  // everything but API index and device number

// BD sub-requests (answered with 0xFD).
constexpr uint8_t kRequestDeviceNumber = 0xBD;
constexpr uint8_t kNumberRequest = 0x00;
constexpr uint8_t kNumberConfirm = 0x02;
constexpr uint8_t kNumberTake = 0xFF;
constexpr uint8_t kNumberBlink = 0x03;
constexpr uint8_t kRequestStoreName = 0xC7;
constexpr uint8_t kSubClearStickyFaults = 0x00;
constexpr uint8_t kSubFactoryDefault = 0x01;

// Without a dynamic ID the confirmation goes to the old number and comes from the new one.
constexpr uint32_t kStaticRxId2 = 0x0004FC3F;

// Sticky faults of devices without the ISO-15765 clear are cleared by one raw frame.
struct RawFrame {
  uint32_t typeAndManufacturer;  // arbId AND 0xFFFF0000
  uint32_t id;                   // OR the device number
  uint8_t data[4];
  uint8_t length;
};
constexpr RawFrame kStickyFaultFrames[] = {
    {0x08040000, 0x08041C00, {0x80}, 1},           // power-distribution panel
    {0x09040000, 0x09041C40, {0, 0, 0, 0x80}, 4},  // pneumatics module
    {0x15040000, 0x15042840, {0x80}, 1},           // IMU
};
constexpr uint32_t kIsoStickyFaultDevices[] = {0x01040000, 0x02040000, 0x03040000, 0x05040000};

constexpr uint32_t kCalibrationId = 0x15042C80;
constexpr uint32_t kRibbonCalibrationId = 0x02042C80;
constexpr uint8_t kCalibrationData[] = {0x0A, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};

// The same device type and number on API class 0x3D, index 0.
constexpr uint32_t AlternateId(uint32_t id) { return (id & 0xFFFFF43F) | 0xF400; }

}  // namespace

int QuorDeviceInterface::SendAndWait(_Iso15765_t* iso, DeviceDescriptor& descriptor,
                                     const uint8_t* message, uint16_t length, uint32_t mask,
                                     int timeout_ms) {
  if (Iso15Adap_Tx(iso, message, length, 0) != ISO15765_ERR_OK) return 0;
  return WaitForIso15(iso, timeout_ms * 1e6, &descriptor, mask, kStepPause_us);
}

int QuorDeviceInterface::PresenceCheck(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                       _Device& device) {
  static const uint8_t kStatusRequest[] = {request_code::kStatus};
  SetupIso(iso, buffer, capacity, &device.descriptor);
  return SendAndWait(iso, device.descriptor, kStatusRequest, sizeof kStatusRequest,
                     resp_flag::kStatus, kPresenceTimeout_ms)
             ? QUOR_DI_OKAY
             : QUOR_DI_EcuIsNotPresent;
}

int QuorDeviceInterface::BeginCommand(const DeviceDescriptor* descriptor, _Device*& device,
                                      _Iso15765_t* iso, uint8_t* buffer, uint16_t capacity) {
  CAN_Init(kFilterModeAllDevices, 0);
  state_ = kIdle;
  device = descriptor ? GetDevice(descriptor->arbId) : nullptr;
  if (device == nullptr) return QUOR_DI_InvalidDeviceSpec;
  dhcp_.LookupDynId(device->descriptor.arbId, device->descriptor.dynamicId);
  state_ = kDeviceCommand;
  return PresenceCheck(iso, buffer, capacity, *device);
}

int QuorDeviceInterface::EndCommand(int result) {
  CAN_DeInit();
  state_ = kIdle;
  return result;
}

_Device* QuorDeviceInterface::Rekey(uint32_t oldKey, uint32_t newKey) {
  const auto found = devices_.find(oldKey);
  if (found == devices_.end()) return nullptr;
  std::unique_ptr<_Device> device = std::move(found->second);
  devices_.erase(found);
  device->descriptor.arbId = newKey;
  std::unique_ptr<_Device>& slot = devices_[newKey];
  slot = std::move(device);  // replaces whatever was filed there
  return slot.get();
}

uint32_t QuorDeviceInterface::fixupDeviceDescriptor(DeviceDescriptor* descriptor,
                                                    unsigned newDeviceNumber) {
  const uint32_t oldKey = descriptor->arbId;
  Rekey(oldKey, newDeviceNumber | (oldKey & kNumberBitsMask));
  return oldKey;
}

int QuorDeviceInterface::assignDeviceID(DeviceDescriptor* descriptor, unsigned newDeviceNumber) {
  _Iso15765_t iso;
  uint8_t buffer[kCommandBufferSize];
  CAN_Init(kFilterModeAllDevices, 0);
  state_ = kIdle;
  _Device* device = descriptor ? GetDevice(descriptor->arbId) : nullptr;
  int result = QUOR_DI_OKAY;
  uint32_t dynamicCount = 0;
  if (device == nullptr) {
    result = QUOR_DI_InvalidDeviceSpec;
  } else if (device->descriptor.respFlags & resp_flag::kRivuduvozClient) {
    result = QUOR_DI_RivuduvozDeviceNoSetId;
  } else {
    dynamicCount = dhcp_.LookupDynId(device->descriptor.arbId, device->descriptor.dynamicId);
    if (newDeviceNumber >= kFirstInvalidDeviceNumber) result = QUOR_DI_NodeIsInvalid;
  }
  if (result == QUOR_DI_OKAY) {
    state_ = kDeviceCommand;
    result = PresenceCheck(&iso, buffer, sizeof buffer, *device);
  }
  if (result == QUOR_DI_OKAY) {
    const uint8_t request[] = {kRequestDeviceNumber, kNumberRequest,
                               static_cast<uint8_t>(newDeviceNumber), kNumberTake};
    bool acknowledged = false;
    for (int attempt = 0; attempt < kSetNumberAttempts && !acknowledged; ++attempt)
      acknowledged = SendAndWait(&iso, device->descriptor, request, sizeof request,
                                 resp_flag::kFD, kSetNumberTimeout_ms) != 0;
    if (!acknowledged) result = QUOR_DI_CouldNotReqSetId;
  }
  if (result == QUOR_DI_OKAY) {
    const uint32_t oldKey = fixupDeviceDescriptor(&device->descriptor, newDeviceNumber);
    const uint32_t newKey = device->descriptor.arbId;
    if (dynamicCount > 0) {
      dhcp_.IdChangeEvent(oldKey, device->descriptor.dynamicId, newKey);
      if (GetDevice(AlternateId(oldKey)) != nullptr) Rekey(AlternateId(oldKey), AlternateId(newKey));
    } else {
      Iso15Adap_Setup(&iso, buffer, sizeof buffer, kStaticRxId2, (newKey & 0xFFFFFC7F) | 0xFC40,
                      (oldKey & 0xFFFFFC3F) | 0xFC00, static_cast<uint8_t>(isoSeparationTime_ms_));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kConfirmNumberPause_ms));
    static const uint8_t kConfirm[] = {kRequestDeviceNumber, kNumberConfirm};
    if (!SendAndWait(&iso, device->descriptor, kConfirm, sizeof kConfirm, resp_flag::kFD,
                     kConfirmNumberTimeout_ms))
      result = QUOR_DI_CouldNotConfirmId;
  }
  EndCommand(result);
  if (dynamicCount > 1) dhcp_.ReRequestDynList();
  if (result == QUOR_DI_OKAY) {
    UpdateDevName(*device);
    *descriptor = device->descriptor;
  }
  CrankMaxPerformance();
  return result;
}

int QuorDeviceInterface::saveDeviceName(DeviceDescriptor* descriptor, const char* name) {
  // C7, length high, length low, text; an empty name travels as two zero bytes.
  uint8_t message[3 + kMaxNameLength] = {kRequestStoreName};
  size_t length = name ? quor::tessera::string_util::safe_strlen(name, kMaxNameLength) : 0;
  if (length == 0) {
    length = 2;
  } else {
    std::memcpy(message + 3, name, length);
  }
  message[1] = static_cast<uint8_t>(length >> 8);
  message[2] = static_cast<uint8_t>(length & 0xFF);

  _Iso15765_t iso;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kNameBufferSize]);
  _Device* device = nullptr;
  int result = BeginCommand(descriptor, device, &iso, buffer.get(), kNameBufferSize);
  if (result == QUOR_DI_OKAY &&
      !SendAndWait(&iso, device->descriptor, message, static_cast<uint16_t>(3 + length),
                   resp_flag::kNameStored, kStoreNameTimeout_ms))
    result = QUOR_DI_CouldNotReqSetDesc;
  if (result == QUOR_DI_OKAY) {
    if (device->descriptor.respFlags & resp_flag::kCustomNameSupported) {
      // The stored name comes back through the dispatcher; no answer is no error.
      static const uint8_t kNameRequest[] = {request_code::kName};
      device->customName[0] = '\0';
      SendAndWait(&iso, device->descriptor, kNameRequest, sizeof kNameRequest, resp_flag::kName,
                  kReadNameTimeout_ms);
    }
    UpdateDevName(*device);
    *descriptor = device->descriptor;
  }
  EndCommand(result);
  CrankMaxPerformance();
  return result;
}

int QuorDeviceInterface::saveLightLed(const DeviceDescriptor* descriptor, bool /*on*/) {
  _Iso15765_t iso;
  uint8_t buffer[kCommandBufferSize];
  _Device* device = nullptr;
  int result = BeginCommand(descriptor, device, &iso, buffer, sizeof buffer);
  if (result == QUOR_DI_OKAY) {
    const uint8_t blink[] = {kRequestDeviceNumber, kNumberRequest,
                             static_cast<uint8_t>(can_id::DeviceNumber(device->descriptor.arbId)),
                             kNumberBlink};
    result = SendAndWait(&iso, device->descriptor, blink, sizeof blink, resp_flag::kFD,
                         kBlinkTimeout_ms)
                 ? ClearAllStickyFaults(device)
                 : QUOR_DI_CouldNotReqSetId;
  }
  return EndCommand(result);
}

int QuorDeviceInterface::ClearAllStickyFaults(_Device* device) {
  if (device == nullptr) return QUOR_DI_InvalidDeviceSpec;
  const uint32_t arbId = device->descriptor.arbId;
  const uint32_t typeAndManufacturer = arbId & 0xFFFF0000;
  for (uint32_t isoDevice : kIsoStickyFaultDevices) {
    if (typeAndManufacturer != isoDevice) continue;
    _Iso15765_t iso;
    uint8_t buffer[kCommandBufferSize];
    SetupIso(&iso, buffer, sizeof buffer, &device->descriptor);
    static const uint8_t kClear[] = {request_code::kSubCoded, kSubClearStickyFaults};
    const _Iso15765_Error_t refused = Iso15Adap_Tx(&iso, kClear, sizeof kClear, 0);
    if (refused != ISO15765_ERR_OK) return refused;
    return WaitForIso15(&iso, kSubCodedTimeout_ms * 1e6, &device->descriptor, resp_flag::kClearAck,
                        kStepPause_us);
  }
  for (const RawFrame& frame : kStickyFaultFrames) {
    if (typeAndManufacturer != frame.typeAndManufacturer) continue;
    return SendCanMsg(frame.id | can_id::DeviceNumber(arbId), frame.data, frame.length) == 0
               ? QUOR_DI_OKAY
               : QUOR_DI_CouldNotSendCanFrame;
  }
  return QUOR_DI_FeatureNotSupported;
}

int QuorDeviceInterface::factoryDefault(const DeviceDescriptor* descriptor) {
  _Iso15765_t iso;
  uint8_t buffer[kCommandBufferSize];
  _Device* device = nullptr;
  int result = BeginCommand(descriptor, device, &iso, buffer, sizeof buffer);
  static const uint8_t kDefaults[] = {request_code::kSubCoded, kSubFactoryDefault};
  if (result == QUOR_DI_OKAY &&
      !SendAndWait(&iso, device->descriptor, kDefaults, sizeof kDefaults, resp_flag::kClearAck,
                   kSubCodedTimeout_ms))
    result = QUOR_DI_CouldNotReqFactoryDefault;
  return EndCommand(result);
}

int QuorDeviceInterface::enterCalibration(const DeviceDescriptor* descriptor,
                                          int /*calibrationType*/) {
  _Device* device = descriptor ? GetDevice(descriptor->arbId) : nullptr;
  if (device == nullptr) return QUOR_DI_InvalidDeviceSpec;
  const std::string model = quor::tessera::string_util::toLower(device->descriptor.model);
  if (model.find("wren") == std::string::npos) return QUOR_DI_FeatureNotSupported;
  const uint32_t id = (model.find("ribbon") != std::string::npos ? kRibbonCalibrationId
                                                                  : kCalibrationId) |
                      can_id::DeviceNumber(device->descriptor.arbId);
  return SendCanMsg(id, kCalibrationData, sizeof kCalibrationData) == 0
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotSendCanFrame;
}
