#pragma once
// Values the devices' firmware and this server must agree on but that no published protocol
// fixes: the keys of the status-frame scrambling, the control frame's check-bit mapping and the
// flash region the bootloaders keep the application in. They are shared data, not protocol
// code: the engine descrambles, computes check bits and checks firmware files with them, and
// the simulated devices scramble, verify and guard their flash with them, each side with its
// own routines, so a misreading on either side still fails a test. Nothing else may copy them.
#include <cstdint>

namespace quor::tessera::core::firmware_constants {

// Short form: W3 -= (((W2 << 4) ^ (W1 >> 5)) + W0) ^ k0; W2 -= F(W0, k1); W1 -= F(W2, k2);
// W0 -= F(W1, k3), with F(x, k) = (x + ((x << 4) ^ (x >> 5))) ^ k, all modulo 2^16.
struct ShortFormKeys {
  uint8_t k0;
  uint16_t k1;
  uint16_t k2;
  uint16_t k3;
};

// How a long-form step key takes the device number in: none, or the square (16-bit) of the
// device number's low 6 bits plus the routine's offset, added to or subtracted from the fixed
// value.
enum class DeviceTerm : uint8_t { kNone, kAdd, kSubtract };

struct LongStepKey {
  uint16_t fixed;
  DeviceTerm term;
};

constexpr int kLongFormSteps = 11;

// Long form: the short form's first two steps with k0 and k1, then eleven steps cycling
// W1 -= F(W2, s), W0 -= F(W1, s), W2 -= F(W0, s) three times, then W1 and W0 once more.
struct LongFormKeys {
  uint8_t k0;
  uint16_t k1;
  uint16_t deviceOffset;
  LongStepKey steps[kLongFormSteps];
};

// Motor-controller status frames (RefSecM2).
constexpr ShortFormKeys kMotorControllerShort{0x5D, 0x9E37, 0x3C6E, 0xB5A1};
constexpr LongFormKeys kMotorControllerLong{
    0xA7,
    0x6A09,
    0x0011,
    {{0xBB67, DeviceTerm::kNone},
     {0x3C6E, DeviceTerm::kAdd},
     {0xA54F, DeviceTerm::kNone},
     {0x510E, DeviceTerm::kSubtract},
     {0x9B05, DeviceTerm::kNone},
     {0x1F83, DeviceTerm::kAdd},
     {0x5BE0, DeviceTerm::kNone},
     {0xCD19, DeviceTerm::kNone},
     {0x137E, DeviceTerm::kSubtract},
     {0x2179, DeviceTerm::kNone},
     {0x8A3F, DeviceTerm::kAdd}}};

// CAN encoder status frame 1 (RefSecD).
constexpr ShortFormKeys kEncoderShort{0x2B, 0x7F4A, 0x1D83, 0xC2E5};
constexpr LongFormKeys kEncoderLong{
    0x91,
    0x4C1B,
    0x0007,
    {{0xE3A9, DeviceTerm::kAdd},
     {0x0F6D, DeviceTerm::kNone},
     {0x72B4, DeviceTerm::kNone},
     {0xD8C2, DeviceTerm::kSubtract},
     {0x36F1, DeviceTerm::kNone},
     {0xA90E, DeviceTerm::kAdd},
     {0x4E57, DeviceTerm::kNone},
     {0xB1C8, DeviceTerm::kSubtract},
     {0x6D23, DeviceTerm::kNone},
     {0xF08A, DeviceTerm::kNone},
     {0x25DC, DeviceTerm::kAdd}}};

// I/O board status frames (RefSecC) and IMU status frames (RefSecP): short form only.
constexpr ShortFormKeys kIoBoardShort{0x6C, 0xD2B7, 0x4A95, 0x18F3};
constexpr ShortFormKeys kImuShort{0xE1, 0x5F2D, 0xB3C4, 0x7A68};

// Control-frame check bit (data byte 6, bit 4): x is the exclusive-or of the eight bytes with
// that bit cleared; n = ((x >> 4) ^ (x & 0x0F)) ^ kCheckFoldMix; the check bit is bit n of
// kCheckBitTable. (The mix comes after the fold and before the lookup.)
constexpr uint8_t kCheckBitByte = 6;
constexpr uint8_t kCheckBitMask = 0x10;
constexpr uint8_t kCheckFoldMix = 0x9;
constexpr uint16_t kCheckBitTable = 0x3CA5;

// The application region of every device's flash, [kApplicationStart, kApplicationEnd): the
// bootloader writes and starts nothing outside it (below it lives the bootloader itself).
constexpr uint32_t kApplicationStart = 0x00008000;
constexpr uint32_t kApplicationEnd = 0x00080000;

}  // namespace quor::tessera::core::firmware_constants
