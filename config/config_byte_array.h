#pragma once
// One device configuration image: 32-bit little-endian fields at fixed positions.
#include <cstdint>

struct ConfigByteArray {
  static constexpr uint32_t kMaxBytes = 4096;

  uint32_t capacity = kMaxBytes;  // bytes the holder may use
  uint8_t data[kMaxBytes] = {};   // the image, from position 0; unsent positions read as 0
  uint32_t length = 0;            // valid image bytes; 0 = empty
};
