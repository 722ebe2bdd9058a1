#include "canmux/can_frame_timing.h"

#include <array>

namespace {

constexpr uint32_t kBaseIdBits = 11;
constexpr uint32_t kExtensionBits = 18;
constexpr uint32_t kDlcBits = 4;
constexpr uint32_t kCrcBits = 15;
constexpr uint16_t kCrcPolynomial = 0x4599;  // CAN's CRC-15
constexpr uint8_t kMaxDataBytes = 8;
constexpr uint32_t kSameBitsBeforeStuffing = 5;
// After the CRC sequence, not stuffed: CRC delimiter, ACK slot, ACK delimiter, end of frame (7)
// and the interframe space (3) before the next frame may start.
constexpr uint32_t kUnstuffedTailBits = 1 + 1 + 1 + 7 + 3;

// The stuffed part of a frame, bit by bit (true = recessive).
class BitString {
 public:
  void put(uint32_t value, uint32_t count) {
    for (uint32_t i = count; i-- > 0;) bits_[size_++] = ((value >> i) & 1) != 0;
  }
  uint16_t crc() const {
    uint16_t crc = 0;
    for (uint32_t i = 0; i < size_; ++i) {
      const bool next = bits_[i] != (((crc >> 14) & 1) != 0);
      crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
      if (next) crc ^= kCrcPolynomial;
    }
    return crc;
  }
  // One extra bit after every run of five equal bits; a stuff bit starts the next run.
  uint32_t stuffBits() const {
    uint32_t stuffed = 0;
    uint32_t run = 0;
    bool last = false;
    for (uint32_t i = 0; i < size_; ++i) {
      if (i > 0 && bits_[i] == last) {
        ++run;
      } else {
        run = 1;
        last = bits_[i];
      }
      if (run == kSameBitsBeforeStuffing) {
        ++stuffed;
        last = !last;  // the stuff bit
        run = 1;
      }
    }
    return stuffed;
  }
  uint32_t size() const { return size_; }

 private:
  std::array<bool, 128> bits_{};
  uint32_t size_ = 0;
};

}  // namespace

uint32_t CanFrameBits(uint32_t id, const uint8_t* data, uint8_t size) {
  const uint8_t bytes = size > kMaxDataBytes ? kMaxDataBytes : size;
  BitString frame;
  frame.put(0, 1);                                       // start of frame, dominant
  frame.put((id >> kExtensionBits) & 0x7FF, kBaseIdBits);
  frame.put(1, 1);                                       // SRR, recessive
  frame.put(1, 1);                                       // IDE: extended
  frame.put(id & 0x3FFFF, kExtensionBits);
  frame.put(0, 1);                                       // RTR: data frame
  frame.put(0, 2);                                       // r1, r0
  frame.put(bytes, kDlcBits);
  for (uint8_t i = 0; i < bytes; ++i) frame.put(data != nullptr ? data[i] : 0, 8);
  frame.put(frame.crc(), kCrcBits);
  return frame.size() + frame.stuffBits() + kUnstuffedTailBits;
}
