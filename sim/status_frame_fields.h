#pragma once
// Helpers for packing status-frame signals: rounding physical values to their wire units,
// fitting numbers into signed fields (with the firmware's "x8" flag for values that do not
// fit) and writing big-endian fields and bit runs. Every packer uses these, so the rules for
// out-of-range values live in one place: numbers saturate at the field's limits.
#include <cstdint>

namespace quor::tessera::sim::fields {

// Nearest whole number of `value / unit`, saturated to minimum..maximum (NaN gives 0).
int32_t ToUnits(double value, double unit, int32_t minimum, int32_t maximum);
// `(value - offset) / unit` as above.
int32_t ToUnits(double value, double unit, double offset, int32_t minimum, int32_t maximum);

int32_t SaturateSigned(int64_t value, int bits);
// 0..255.
uint8_t SaturateByte(int64_t value);

// A value for a signed field of `bits` bits whose frame has a "x8" flag: values that do not fit
// go as value / 8 with the flag set (and saturate if even that does not fit).
struct Times8Field {
  int32_t value;
  bool times8;
};
Times8Field FitWithTimes8(int32_t value, int bits);

// Writes the low `bytes * 8` bits of `value` into data[first..], most significant byte first.
void PutBigEndian(uint8_t* data, int first, int bytes, uint32_t value);
// Writes the low `width` bits of `value` into the frame read as one bit stream that starts at
// bit 7 of d0 (stream bit 0) and runs most significant bit first.
void PutStreamBits(uint8_t* data, int streamBit, int width, uint32_t value);
// Sets bits shift..shift+width-1 of `byte` to the low bits of `value`.
void PutBits(uint8_t& byte, int shift, int width, uint32_t value);
inline void PutFlag(uint8_t& byte, int bit, bool set) { PutBits(byte, bit, 1, set ? 1 : 0); }
// Sets bit `bit` (0..31) of dword0 (d0..d3, little-endian) or, with `first` 4, of dword1.
void PutDwordFlag(uint8_t* data, int first, int bit, bool set);

// A 24-bit position at data[first..first+2] and a 16-bit velocity after it, both signed and
// both with a "x8" flag; returns the flags for the caller to place.
struct Times8Flags {
  bool position;
  bool velocity;
};
Times8Flags PutPositionVelocity(uint8_t* data, int first, int32_t position, int32_t velocity);

// A pulse-width input: position d0-d2 (x8 flag d7.4); period in 0.256 us units, 19 bits in d3,
// d4 and d5 bits 7-5; velocity 16 bits in d5 bits 4-0, d6 and d7 bits 7-5 (x8 flag d7.3).
void PutPulseInput(uint8_t* data, int32_t position, int32_t velocity, double period_us);

}  // namespace quor::tessera::sim::fields
