#pragma once
// How long a CAN frame occupies the wire: the bits of a 29-bit data frame (start of frame,
// arbitration field, control field, data, CRC, ACK, end of frame and the interframe space) plus
// the stuff bits its own bit pattern needs, at the bus's 1 Mbit/s.
#include <cstdint>

constexpr uint32_t kCanBitRate = 1000000;

// Bits on the wire for an extended data frame with `size` bytes (0..8; more count as 8).
uint32_t CanFrameBits(uint32_t id, const uint8_t* data, uint8_t size);
// The same in microseconds at kCanBitRate (one bit is 1 us).
inline uint32_t CanFrameTime_us(uint32_t id, const uint8_t* data, uint8_t size) {
  return CanFrameBits(id, data, size) * (1000000 / kCanBitRate);
}
