#pragma once
// The control frame's check bit (d6 bit 4) worked out in tests by the rule the firmware
// constants document: x is the exclusive-or of the eight bytes with that bit cleared, folded
// to n = ((x >> 4) ^ (x & 0x0F)) ^ kCheckFoldMix, and the bit is bit n of kCheckBitTable.
#include <cstdint>

#include "core/device_firmware_constants.h"

namespace tessera_test {

// `folded` is (x >> 4) ^ (x & 0x0F).
inline bool CheckBitForFolded(uint8_t folded) {
  namespace fc = quor::tessera::core::firmware_constants;
  return ((fc::kCheckBitTable >> ((folded ^ fc::kCheckFoldMix) & 0x0F)) & 1) != 0;
}

inline bool ExpectedCheckBit(const uint8_t* d) {
  uint8_t x = 0;
  for (int i = 0; i < 8; ++i) x ^= i == 6 ? static_cast<uint8_t>(d[i] & ~0x10) : d[i];
  return CheckBitForFolded(static_cast<uint8_t>((x >> 4) ^ (x & 0x0F)));
}

}  // namespace tessera_test
