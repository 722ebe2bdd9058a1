// The dispatcher of complete ISO-15765 messages from the devices: each answer code sets its
// respFlags bit and stores what it carries.
#include <cstring>

#include "device/quor_device_interface.h"
#include "runtime/diag_print.h"

namespace {

// Answer codes (request code + 0x40).
enum AnswerCode : uint8_t {
  kConfigBlock = 0x03,
  kConfigWriteAck = 0x04,
  kSubCoded = 0x05,
  kNameStored = 0x07,
  kName = 0x08,
  kSecondText = 0x0A,
  kAck0C = 0x0C,
  kAck0D = 0x0D,
  kAck0F = 0x0F,
  kPresence = 0x7E,
  kInfo = 0xF0,
  kAckF1 = 0xF1,
  kAppCheck = 0xF5,
  kAnswerF7 = 0xF7,
  kAnswerF8 = 0xF8,
  kAnswerF9 = 0xF9,
  kStatus = 0xFB,
  kAnswerFD = 0xFD,
};

// Sub-codes of 0x05.
constexpr uint8_t kSubClearSticky = 0;
constexpr uint8_t kSubFactoryDefault = 1;
constexpr uint8_t kSubConfigBlock = 2;
constexpr uint8_t kSubConfigWriteAck = 3;

// Status answer, byte 2.
constexpr uint8_t kStatusCustomName = 0x01;
constexpr uint8_t kStatusConfigReadable = 0x02;
constexpr uint8_t kStatusRivuduvozA = 0x08;
constexpr uint8_t kStatusRivuduvozB = 0x10;

// Name and second-text answers: code, length high, length low, text.
constexpr uint32_t kTextHeaderLength = 3;

}  // namespace

void QuorDeviceInterface::ProcessIsoRx_s(uint32_t nodeId, const uint8_t* message, uint16_t length,
                                         void* user) {
  static_cast<QuorDeviceInterface*>(user)->ProcessIsoRx(nodeId, message, length);
}

void QuorDeviceInterface::StoreConfigBlock(_Device* device, const uint8_t* block,
                                           uint32_t length) {
  if (device == nullptr) return;
  ConfigByteArray& config = *device->config;
  const uint32_t kept = length < ConfigByteArray::kMaxBytes ? length : ConfigByteArray::kMaxBytes;
  std::memcpy(config.data, block, kept);
  config.length = kept;
  // A block that did not fit is kept for inspection but not reported as received.
  if (length <= ConfigByteArray::kMaxBytes) device->descriptor.respFlags |= resp_flag::kConfigReceived;
}

void QuorDeviceInterface::StoreAnnouncedText(char* destination, const uint8_t* message,
                                             uint32_t length) {
  // Cut to what the buffer holds and to what actually arrived, whatever the device announced.
  uint32_t count = 0;
  if (length >= kTextHeaderLength) {
    const uint32_t announced = (static_cast<uint32_t>(message[1]) << 8) | message[2];
    const uint32_t arrived = length - kTextHeaderLength;
    count = announced < arrived ? announced : arrived;
  }
  if (count > kDeviceLongTextSize - 1) count = kDeviceLongTextSize - 1;
  std::memcpy(destination, message + kTextHeaderLength, count);
  std::memset(destination + count, 0, kDeviceLongTextSize - count);
}

void QuorDeviceInterface::ProcessIsoRx(uint32_t nodeId, const uint8_t* message, uint32_t length) {
  if (message == nullptr || length == 0) return;
  _DecodedHeader header;
  if (!QUOR_CANID_Decode(nodeId, header)) return;
  uint32_t key = can_id::BaseId(nodeId);
  if (header.dynamic) {
    uint32_t deviceId = 0;
    if (!dhcp_.LookupDevId(key, deviceId)) return;
    key = deviceId;
  }
  _Device* device = GetDevice(key);
  uint32_t scratchFlags = 0;  // for answers from devices not in the table
  uint32_t& flags = device ? device->descriptor.respFlags : scratchFlags;

  const uint8_t code = message[0];
  switch (code) {
    case kConfigBlock:
      if (length >= 2) StoreConfigBlock(device, message + 1, length - 1);
      break;
    case kConfigWriteAck:
      flags |= resp_flag::kConfigWriteAck;
      break;
    case kSubCoded:
      if (length < 2) break;
      switch (message[1]) {
        case kSubConfigBlock:
          if (length >= 3) StoreConfigBlock(device, message + 2, length - 2);
          break;
        case kSubConfigWriteAck:
          flags |= resp_flag::kConfigWriteAck;
          break;
        case kSubClearSticky:
        case kSubFactoryDefault:
          flags |= resp_flag::kClearAck;
          break;
        default:
          break;
      }
      break;
    case kNameStored:
      flags |= resp_flag::kNameStored;
      break;
    case kName:
      flags |= resp_flag::kName;
      if (device) StoreAnnouncedText(device->customName, message, length);
      break;
    case kSecondText:
      flags |= resp_flag::kSecondText;
      if (device) StoreAnnouncedText(device->secondText, message, length);
      break;
    case kAck0C:
    case kAck0D:
    case kAckF1:
      flags |= resp_flag::kCommandAck;
      break;
    case kAck0F:
      flags |= resp_flag::kOF;
      break;
    case kPresence:
      if (can_id::Manufacturer(key) != can_id::kManufacturerQuor) break;
      if (device) {
        device->descriptor.respFlags |= resp_flag::kPresenceAgain;
      } else {
        InsertFoundDevice(key, 0);
      }
      break;
    case kInfo:
      UpdateInfo(device, nodeId, message, length, header);
      break;
    case kAppCheck:
      if (length < 2) break;
      flags |= resp_flag::kAppCheck;
      if (message[1] != 0) flags |= resp_flag::kAppFlashed;
      if (length >= 4) {
        if (device) {
          device->extraStatus[0] = message[2];
          device->extraStatus[1] = message[3];
        }
        flags |= resp_flag::kAppCheckExtra;
      }
      break;
    case kAnswerF7:
      flags |= resp_flag::kF7;
      break;
    case kAnswerF8:
      flags |= resp_flag::kF8;
      break;
    case kAnswerF9:
      flags |= resp_flag::kF9;
      break;
    case kStatus: {
      if (length < 2) break;
      flags |= resp_flag::kStatus;
      if (message[1] != 0) flags |= resp_flag::kAppRunning;
      const bool hasOptions = length >= 3;
      const uint8_t options = hasOptions ? message[2] : 0;
      if (device) device->descriptor.supportsConfigs = (options & kStatusCustomName) ? 1 : 0;
      if (options & kStatusCustomName) flags |= resp_flag::kCustomNameSupported;
      if (hasOptions) {
        if ((options & kStatusConfigReadable) &&
            ShouldWeRetrieveConfigs(device, device ? &device->descriptor : nullptr))
          flags |= resp_flag::kConfigReadable;
        if (options & kStatusRivuduvozA) flags |= resp_flag::kRivuduvozRoleA;
        if (options & kStatusRivuduvozB) flags |= resp_flag::kRivuduvozRoleB;
      }
      break;
    }
    case kAnswerFD:
      flags |= resp_flag::kFD;
      break;
    default:
      diag_printf("Unexpected d0: %x\n", code);
      break;
  }
}
