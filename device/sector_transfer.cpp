// Writing one flash sector into a bootloader: whole, in one 0xB1 request, or for a device that
// answers through another's port (whose messages stay short), in 0xCC parts and a 0xCD commit.
#include <chrono>
#include <cstring>
#include <thread>

#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/field_upgrade.h"
#include "device/quor_device_interface.h"

namespace {

constexpr int kSectorAckTimeout_ms = 1000;
constexpr int kPartAttempts = 2;  // a part whose acknowledgement is lost is sent once more
constexpr int kPartRetryPause_ms = 2000;
constexpr uint32_t kAddressedRequestHeader = 5;  // code, address (4, big-endian)
constexpr uint32_t kPartRequestHeader = 5;    // code, offset (2), count (2), both big-endian
constexpr uint32_t kMaxPartBytes = 110;
constexpr uint32_t kLongestIsoMessage = 4095;

// Flash addresses travel big-endian, although the file keeps them little-endian.
void PutBigEndian32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

void PutBigEndian16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

bool Fits(uint32_t messageLength, uint32_t requestSize) {
  return messageLength <= requestSize && messageLength <= kLongestIsoMessage;
}

}  // namespace

int QuorDeviceInterface::sendSector1(DeviceDescriptor* descriptor, _Iso15765_t* iso,
                                     uint8_t* request, uint32_t requestSize, uint32_t address,
                                     const uint8_t* payload, uint32_t length) {
  const uint32_t messageLength = kAddressedRequestHeader + length;
  if (!Fits(messageLength, requestSize)) return QUOR_DI_CouldNotSendFlash;
  request[0] = request_code::kWriteSector;
  PutBigEndian32(request + 1, address);
  std::memcpy(request + kAddressedRequestHeader, payload, length);
  return SendAndWait(iso, *descriptor, request, static_cast<uint16_t>(messageLength),
                     resp_flag::kCommandAck, kSectorAckTimeout_ms, FieldUpgrade::kStep_us)
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotSendFlash;
}

int QuorDeviceInterface::sendSector2(DeviceDescriptor* descriptor, _Iso15765_t* iso,
                                     uint8_t* request, uint32_t requestSize, uint32_t address,
                                     const uint8_t* payload, uint32_t length) {
  if (!Fits(kPartRequestHeader + kMaxPartBytes, requestSize)) return QUOR_DI_CouldNotSendFlash;
  for (uint32_t offset = 0; offset < length; offset += kMaxPartBytes) {
    const uint32_t count = length - offset < kMaxPartBytes ? length - offset : kMaxPartBytes;
    request[0] = request_code::kWriteSectorPart;
    PutBigEndian16(request + 1, offset);
    PutBigEndian16(request + 3, count);
    std::memcpy(request + kPartRequestHeader, payload + offset, count);
    if (!SendPartWithRetry(iso, *descriptor, request,
                           static_cast<uint16_t>(kPartRequestHeader + count)))
      return QUOR_DI_CouldNotSendFlash;
  }
  request[0] = request_code::kCommitSector;
  PutBigEndian32(request + 1, address);
  return SendPartWithRetry(iso, *descriptor, request, kAddressedRequestHeader)
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotSendFlash;
}

bool QuorDeviceInterface::SendPartWithRetry(_Iso15765_t* iso, DeviceDescriptor& descriptor,
                                            const uint8_t* message, uint16_t length) {
  for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPartRetryPause_ms));
    if (SendAndWait(iso, descriptor, message, length, resp_flag::kCommandAck,
                    kSectorAckTimeout_ms, FieldUpgrade::kStep_us))
      return true;
  }
  return false;
}
