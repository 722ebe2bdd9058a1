#pragma once
// The record exchanged with the CAN stream-session operations: one frame, 24 bytes.
#include <cstdint>

extern "C" {
struct CanStreamMessage {
  uint32_t messageID;   // 29-bit arbitration ID
  uint32_t timeStamp;   // microseconds (wraps); 0 for frames built locally
  uint8_t data[8];
  uint32_t reserved;    // always 0
  uint8_t dataSize;     // 0-8
  uint8_t padding[3];
};
}

static_assert(sizeof(CanStreamMessage) == 24, "stream message is a fixed 24-byte record");
