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
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"

namespace {

constexpr uint16_t kCommandBufferSize = 10;
constexpr uint16_t kNameBufferSize = 4096;

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

// Sticky faults of devices without the ISO-15765 clear are cleared by one raw frame, chosen by
// the device's type and manufacturer.
struct RawFrame {
  uint32_t id;  // OR the device number
  const uint8_t* data;
  uint8_t length;
};
constexpr RawFrame kStickyFaultFrames[] = {
    {raw_frame::kPdpClearStickyFaultsId, raw_frame::kClearStickyFaults,
     sizeof raw_frame::kClearStickyFaults},
    {raw_frame::kPcmClearStickyFaultsId, raw_frame::kPcmClearStickyFaults,
     sizeof raw_frame::kPcmClearStickyFaults},
    {raw_frame::kImuClearStickyFaultsId, raw_frame::kClearStickyFaults,
     sizeof raw_frame::kClearStickyFaults},
};
// Motor controllers, the I/O board and the encoder clear theirs over ISO-15765.
constexpr uint32_t kIsoStickyFaultDevices[] = {
    can_id::MakeQuor(device_type::kHarrierHx, 0, 0, 0),
    can_id::MakeQuor(device_type::kMotorController, 0, 0, 0),
    can_id::MakeQuor(device_type::kCanTap, 0, 0, 0),
    can_id::MakeQuor(device_type::kCanDial, 0, 0, 0),
};

}  // namespace

int QuorDeviceInterface::PresenceCheck(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                       _Device& device) {
  static const uint8_t kStatusRequest[] = {request_code::kStatus};
  // The status bit also keeps the device in the listing. Whether it is listed is for the
  // discovery rounds to decide, with their retries: one answer later than this short wait must
  // not hide a device that answers; one that stays silent is marked by its next poll.
  const uint32_t listed = device.descriptor.respFlags & resp_flag::kStatus;
  SetupIso(iso, buffer, capacity, &device.descriptor);
  if (SendAndWait(iso, device.descriptor, kStatusRequest, sizeof kStatusRequest,
                  resp_flag::kStatus, kPresenceTimeout_ms))
    return QUOR_DI_OKAY;
  device.descriptor.respFlags |= listed;
  return QUOR_DI_EcuIsNotPresent;
}

int QuorDeviceInterface::BeginCommand(const DeviceDescriptor* descriptor, _Device*& device,
                                      _Iso15765_t* iso, uint8_t* buffer, uint16_t capacity) {
  CAN_Init(frame_filter::kAllDevices, 0);
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
  std::lock_guard<std::mutex> hold(tableMutex_);
  const auto found = devices_.find(oldKey);
  if (found == devices_.end()) return nullptr;
  std::unique_ptr<_Device> device = std::move(found->second);
  devices_.erase(found);
  device->descriptor.arbId = newKey;
  std::unique_ptr<_Device>& slot = devices_[newKey];
  // A round that let this request in between two exchanges may still hold what is filed there.
  if (slot && roundInProgress_) retiredDuringRound_.push_back(std::move(slot));
  slot = std::move(device);  // replaces whatever was filed there
  return slot.get();
}

uint32_t QuorDeviceInterface::fixupDeviceDescriptor(DeviceDescriptor* descriptor,
                                                    unsigned newDeviceNumber) {
  const uint32_t oldKey = descriptor->arbId;
  Rekey(oldKey, newDeviceNumber | (oldKey & ~(can_id::kApiIndexMask | can_id::kDeviceNumberMask)));
  return oldKey;
}

int QuorDeviceInterface::assignDeviceID(DeviceDescriptor* descriptor, unsigned newDeviceNumber) {
  _Iso15765_t iso;
  uint8_t buffer[kCommandBufferSize];
  CAN_Init(frame_filter::kAllDevices, 0);
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
  if (result == QUOR_DI_OKAY) result = RequestNewNumber(&iso, *device, newDeviceNumber);
  if (result == QUOR_DI_OKAY)
    result = ConfirmNewNumber(&iso, buffer, sizeof buffer, *device, newDeviceNumber,
                              dynamicCount > 0);
  EndCommand(result);
  if (dynamicCount > 1) dhcp_.ReRequestDynList();
  if (result == QUOR_DI_OKAY) {
    UpdateDevName(*device);
    *descriptor = device->descriptor;
  }
  CrankMaxPerformance();
  return result;
}

int QuorDeviceInterface::RequestNewNumber(_Iso15765_t* iso, _Device& device,
                                          unsigned newDeviceNumber) {
  const uint8_t request[] = {request_code::kDeviceNumber, number_command::kRequest,
                             static_cast<uint8_t>(newDeviceNumber), number_command::kTake};
  for (int attempt = 0; attempt < kSetNumberAttempts; ++attempt) {
    if (SendAndWait(iso, device.descriptor, request, sizeof request, resp_flag::kFD,
                    kSetNumberTimeout_ms))
      return QUOR_DI_OKAY;
  }
  return QUOR_DI_CouldNotReqSetId;
}

int QuorDeviceInterface::ConfirmNewNumber(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                          _Device& device, unsigned newDeviceNumber,
                                          bool dynamic) {
  // The device already took the number: it is filed under it even if the confirmation fails.
  const uint32_t oldKey = fixupDeviceDescriptor(&device.descriptor, newDeviceNumber);
  const uint32_t newKey = device.descriptor.arbId;
  if (dynamic) {
    dhcp_.IdChangeEvent(oldKey, device.descriptor.dynamicId, newKey);
    const uint32_t oldClient = engine_id::AlternateId(oldKey);
    if (GetDevice(oldClient) != nullptr) Rekey(oldClient, engine_id::AlternateId(newKey));
  } else {
    // Without a dynamic ID the confirmation goes to the old number and comes from the new one.
    Iso15Adap_Setup(iso, buffer, capacity, engine_id::kRenumberSecondAnswerId,
                    engine_id::DeviceAnswerId(newKey), engine_id::DeviceRequestId(oldKey),
                    static_cast<uint8_t>(GetIsoSeparationTime()));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kConfirmNumberPause_ms));
  static const uint8_t kConfirm[] = {request_code::kDeviceNumber, number_command::kConfirm};
  return SendAndWait(iso, device.descriptor, kConfirm, sizeof kConfirm, resp_flag::kFD,
                     kConfirmNumberTimeout_ms)
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotConfirmId;
}

int QuorDeviceInterface::saveDeviceName(DeviceDescriptor* descriptor, const char* name) {
  // C7, length high, length low, text; an empty name travels as two zero bytes.
  constexpr uint32_t kHeader = answer_code::kTextHeaderLength;
  uint8_t message[kHeader + kMaxNameLength] = {request_code::kStoreName};
  size_t length = name ? quor::tessera::string_util::safe_strlen(name, kMaxNameLength) : 0;
  if (length == 0) {
    length = 2;
  } else {
    std::memcpy(message + kHeader, name, length);
  }
  message[1] = static_cast<uint8_t>(length >> 8);
  message[2] = static_cast<uint8_t>(length & 0xFF);

  _Iso15765_t iso;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kNameBufferSize]);
  _Device* device = nullptr;
  int result = BeginCommand(descriptor, device, &iso, buffer.get(), kNameBufferSize);
  if (result == QUOR_DI_OKAY &&
      !SendAndWait(&iso, device->descriptor, message, static_cast<uint16_t>(kHeader + length),
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
    const uint8_t blink[] = {request_code::kDeviceNumber, number_command::kRequest,
                             static_cast<uint8_t>(can_id::DeviceNumber(device->descriptor.arbId)),
                             number_command::kBlink};
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
  const uint32_t typeAndManufacturer = can_id::TypeAndManufacturer(arbId);
  for (uint32_t isoDevice : kIsoStickyFaultDevices) {
    if (typeAndManufacturer != isoDevice) continue;
    _Iso15765_t iso;
    uint8_t buffer[kCommandBufferSize];
    SetupIso(&iso, buffer, sizeof buffer, &device->descriptor);
    static const uint8_t kClear[] = {request_code::kSubCoded, sub_code::kClearStickyFaults};
    const _Iso15765_Error_t refused = Iso15Adap_Tx(&iso, kClear, sizeof kClear, 0);
    if (refused != ISO15765_ERR_OK) return refused;
    return WaitForIso15(&iso, kSubCodedTimeout_ms * 1e6, &device->descriptor, resp_flag::kClearAck,
                        kCommandStep_us);
  }
  for (const RawFrame& frame : kStickyFaultFrames) {
    if (typeAndManufacturer != can_id::TypeAndManufacturer(frame.id)) continue;
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
  static const uint8_t kDefaults[] = {request_code::kSubCoded, sub_code::kFactoryDefault};
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
  const uint32_t id = (model.find("ribbon") != std::string::npos
                           ? raw_frame::kRibbonImuCalibrationId
                           : raw_frame::kImuCalibrationId) |
                      can_id::DeviceNumber(device->descriptor.arbId);
  return SendCanMsg(id, raw_frame::kImuCalibration, sizeof raw_frame::kImuCalibration) == 0
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotSendCanFrame;
}
