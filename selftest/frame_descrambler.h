#pragma once
// Descrambling of the status frames that devices send scrambled. A two-bit mode field in the
// received frame says how: 0 and 3 plain, 1 the short form, 2 the long form (which also mixes
// in the device number). The whole frame, mode field included, is rewritten in place.
#include <cstdint>

enum ScrambleMode : uint8_t {
  kScramblePlain = 0,
  kScrambleShort = 1,
  kScrambleLong = 2,
  kScramblePlainToo = 3,
};

// The mode field: two bits of dword1 (d4 | d5<<8 | d6<<16 | d7<<24) starting at `modeBit`.
uint8_t ScrambleModeOf(const uint8_t data[8], uint8_t modeBit);

// Motor-controller status frames; their mode field sits at a position per frame type.
void RefSecM2(uint8_t data[8], uint32_t deviceNumber, uint8_t modeBit);
// CAN encoder status frame 1 (mode in d7 bits 0-1), both forms.
void RefSecD(uint8_t data[8], uint32_t deviceNumber);
// I/O board and IMU status frames (mode in d7 bits 0-1): short form only, mode 2 stays as is.
void RefSecC(uint8_t data[8]);
void RefSecP(uint8_t data[8]);
