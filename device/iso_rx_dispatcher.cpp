// The dispatcher of complete ISO-15765 messages from the devices: most answers only set their
// respFlags bits (one table); the answers that carry data have a handler each.
#include <cstring>

#include "device/engine_wire.h"
#include "device/quor_device_interface.h"
#include "runtime/diag_print.h"

namespace {

// One complete answer, with the device it came from (null when the device is not in the table;
// `flags` is then a scratch word).
struct IsoAnswer {
  uint32_t key;
  uint32_t nodeId;
  const _DecodedHeader& header;
  _Device* device;
  uint32_t& flags;
  const uint8_t* message;
  uint32_t length;
};

struct FlagAnswer {
  uint8_t code;
  uint32_t flags;
};

constexpr FlagAnswer kFlagAnswers[] = {
    {answer_code::kConfigWriteAck, resp_flag::kConfigWriteAck},
    {answer_code::kNameStored, resp_flag::kNameStored},
    {answer_code::kSectorPartWritten, resp_flag::kCommandAck},
    {answer_code::kSectorCommitted, resp_flag::kCommandAck},
    {answer_code::kSectorWritten, resp_flag::kCommandAck},
    {answer_code::kAnswer0F, resp_flag::kOF},
    {answer_code::kErased, resp_flag::kF7},
    {answer_code::kAppStarted, resp_flag::kF8},
    {answer_code::kBootloaderEntered, resp_flag::kF9},
    {answer_code::kDeviceNumber, resp_flag::kFD},
};

void StoreConfigBlock(_Device* device, const uint8_t* block, uint32_t length) {
  if (device == nullptr) return;
  ConfigByteArray& config = *device->config;
  const uint32_t kept = length < ConfigByteArray::kMaxBytes ? length : ConfigByteArray::kMaxBytes;
  std::memcpy(config.data, block, kept);
  config.length = kept;
  // A block that did not fit is kept for inspection but not reported as received.
  if (length <= ConfigByteArray::kMaxBytes) device->descriptor.respFlags |= resp_flag::kConfigReceived;
}

void StoreAnnouncedText(char* destination, const uint8_t* message, uint32_t length) {
  // Cut to what the buffer holds and to what actually arrived, whatever the device announced.
  constexpr uint32_t kHeader = answer_code::kTextHeaderLength;
  uint32_t count = 0;
  if (length >= kHeader) {
    const uint32_t announced = (static_cast<uint32_t>(message[1]) << 8) | message[2];
    const uint32_t arrived = length - kHeader;
    count = announced < arrived ? announced : arrived;
  }
  if (count > kDeviceLongTextSize - 1) count = kDeviceLongTextSize - 1;
  std::memcpy(destination, message + kHeader, count);
  std::memset(destination + count, 0, kDeviceLongTextSize - count);
}

void OnConfigBlock(QuorDeviceInterface&, const IsoAnswer& a) {
  if (a.length >= 2) StoreConfigBlock(a.device, a.message + 1, a.length - 1);
}

void OnSubCoded(QuorDeviceInterface&, const IsoAnswer& a) {
  if (a.length < 2) return;
  switch (a.message[1]) {
    case sub_code::kConfigRead:
      if (a.length >= 3) StoreConfigBlock(a.device, a.message + 2, a.length - 2);
      break;
    case sub_code::kConfigWriteAck:
      a.flags |= resp_flag::kConfigWriteAck;
      break;
    case sub_code::kClearStickyFaults:
    case sub_code::kFactoryDefault:
      a.flags |= resp_flag::kClearAck;
      break;
    default:
      break;
  }
}

void OnName(QuorDeviceInterface&, const IsoAnswer& a) {
  a.flags |= resp_flag::kName;
  if (a.device) StoreAnnouncedText(a.device->customName, a.message, a.length);
}

void OnSecondText(QuorDeviceInterface&, const IsoAnswer& a) {
  a.flags |= resp_flag::kSecondText;
  if (a.device) StoreAnnouncedText(a.device->secondText, a.message, a.length);
}

void OnPresence(QuorDeviceInterface& engine, const IsoAnswer& a) {
  if (can_id::Manufacturer(a.key) != can_id::kManufacturerQuor) return;
  if (a.device) {
    a.device->descriptor.respFlags |= resp_flag::kPresenceAgain;
  } else {
    engine.InsertFoundDevice(a.key, 0);
  }
}

void OnInfo(QuorDeviceInterface& engine, const IsoAnswer& a) {
  engine.UpdateInfo(a.device, a.nodeId, a.message, a.length, a.header);
}

void OnAppCheck(QuorDeviceInterface&, const IsoAnswer& a) {
  if (a.length < 2) return;
  a.flags |= resp_flag::kAppCheck;
  if (a.message[1] != 0) a.flags |= resp_flag::kAppFlashed;
  if (a.length < 4) return;
  if (a.device) {
    a.device->extraStatus[0] = a.message[2];
    a.device->extraStatus[1] = a.message[3];
  }
  a.flags |= resp_flag::kAppCheckExtra;
}

void OnStatus(QuorDeviceInterface&, const IsoAnswer& a) {
  if (a.length < 2) return;
  a.flags |= resp_flag::kStatus;
  if (a.message[1] != 0) a.flags |= resp_flag::kAppRunning;
  const bool hasOptions = a.length >= 3;
  const uint8_t options = hasOptions ? a.message[2] : 0;
  if (a.device) a.device->descriptor.supportsConfigs = (options & status_option::kCustomName) ? 1 : 0;
  if (options & status_option::kCustomName) a.flags |= resp_flag::kCustomNameSupported;
  if (!hasOptions) return;
  if ((options & status_option::kConfigReadable) &&
      ShouldWeRetrieveConfigs(a.device, a.device ? &a.device->descriptor : nullptr))
    a.flags |= resp_flag::kConfigReadable;
  if (options & status_option::kRivuduvozRoleA) a.flags |= resp_flag::kRivuduvozRoleA;
  if (options & status_option::kRivuduvozRoleB) a.flags |= resp_flag::kRivuduvozRoleB;
}

struct DataAnswer {
  uint8_t code;
  void (*handle)(QuorDeviceInterface& engine, const IsoAnswer& answer);
};

constexpr DataAnswer kDataAnswers[] = {
    {answer_code::kConfigBlock, OnConfigBlock}, {answer_code::kSubCoded, OnSubCoded},
    {answer_code::kName, OnName},               {answer_code::kSecondText, OnSecondText},
    {answer_code::kPresence, OnPresence},       {answer_code::kInfo, OnInfo},
    {answer_code::kAppCheck, OnAppCheck},       {answer_code::kStatus, OnStatus},
};

}  // namespace

void QuorDeviceInterface::ProcessIsoRx_s(uint32_t nodeId, const uint8_t* message, uint16_t length,
                                         void* user) {
  static_cast<QuorDeviceInterface*>(user)->ProcessIsoRx(nodeId, message, length);
}

bool QuorDeviceInterface::DeviceOnDynamicId(uint32_t dynamicId, uint32_t& deviceId) const {
  const _Device* found = nullptr;
  for (const auto& [key, device] : devices_) {
    if (device->descriptor.dynamicId != dynamicId) continue;
    if (found != nullptr) return false;  // two records claim it: trust neither
    found = device.get();
  }
  if (found == nullptr) return false;
  deviceId = found->descriptor.arbId;
  return true;
}

void QuorDeviceInterface::ProcessIsoRx(uint32_t nodeId, const uint8_t* message, uint32_t length) {
  if (message == nullptr || length == 0) return;
  _DecodedHeader header;
  if (!QUOR_CANID_Decode(nodeId, header)) return;
  uint32_t key = can_id::BaseId(nodeId);
  if (header.dynamic) {
    uint32_t deviceId = 0;
    // The dynamic-ID server empties its tables while it rebuilds them; meanwhile the device
    // this engine addressed on that dynamic ID still answers on it.
    if (!dhcp_.LookupDevId(key, deviceId) && !DeviceOnDynamicId(key, deviceId)) return;
    key = deviceId;
  }
  _Device* device = GetDevice(key);
  uint32_t scratchFlags = 0;  // for answers from devices not in the table
  uint32_t& flags = device ? device->descriptor.respFlags : scratchFlags;
  const IsoAnswer answer{key, nodeId, header, device, flags, message, length};
  const uint8_t code = message[0];
  for (const FlagAnswer& entry : kFlagAnswers) {
    if (entry.code != code) continue;
    flags |= entry.flags;
    return;
  }
  for (const DataAnswer& entry : kDataAnswers) {
    if (entry.code != code) continue;
    entry.handle(*this, answer);
    return;
  }
  diag_printf("Unexpected d0: %x\n", code);
}
