#include "selftest/frame_descrambler.h"

#include "core/device_firmware_constants.h"
#include "device/can_id.h"

namespace {

namespace keys = quor::tessera::core::firmware_constants;

constexpr uint8_t kModeFieldOfD7 = 24;

// The frame as four little-endian 16-bit words: W0 = d0|d1<<8 ... W3 = d6|d7<<8.
struct Words {
  uint16_t w[4];
};

Words Load(const uint8_t data[8]) {
  Words words{};
  for (int i = 0; i < 4; ++i)
    words.w[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return words;
}

void Store(const Words& words, uint8_t data[8]) {
  for (int i = 0; i < 4; ++i) {
    data[2 * i] = static_cast<uint8_t>(words.w[i]);
    data[2 * i + 1] = static_cast<uint8_t>(words.w[i] >> 8);
  }
}

// F(x, k) = (x + ((x << 4) ^ (x >> 5))) ^ k, modulo 2^16.
uint16_t Mix(uint16_t x, uint16_t key) {
  const uint16_t spread = static_cast<uint16_t>((x << 4) ^ (x >> 5));
  return static_cast<uint16_t>(static_cast<uint16_t>(x + spread) ^ key);
}

void SubtractMix(uint16_t& target, uint16_t source, uint16_t key) {
  target = static_cast<uint16_t>(target - Mix(source, key));
}

// The first two steps, shared by both forms.
void OpeningSteps(Words& s, uint8_t k0, uint16_t k1) {
  const uint16_t spread = static_cast<uint16_t>((s.w[2] << 4) ^ (s.w[1] >> 5));
  const uint16_t mixed = static_cast<uint16_t>(static_cast<uint16_t>(spread + s.w[0]) ^ k0);
  s.w[3] = static_cast<uint16_t>(s.w[3] - mixed);
  SubtractMix(s.w[2], s.w[0], k1);
}

void ShortForm(uint8_t data[8], const keys::ShortFormKeys& k) {
  Words s = Load(data);
  OpeningSteps(s, k.k0, k.k1);
  SubtractMix(s.w[1], s.w[2], k.k2);
  SubtractMix(s.w[0], s.w[1], k.k3);
  Store(s, data);
}

uint16_t LongStepKey(const keys::LongStepKey& step, uint16_t deviceTerm) {
  switch (step.term) {
    case keys::DeviceTerm::kAdd: return static_cast<uint16_t>(step.fixed + deviceTerm);
    case keys::DeviceTerm::kSubtract: return static_cast<uint16_t>(step.fixed - deviceTerm);
    case keys::DeviceTerm::kNone: break;
  }
  return step.fixed;
}

// After the opening steps the long form cycles W1 -= F(W2), W0 -= F(W1), W2 -= F(W0).
void LongForm(uint8_t data[8], const keys::LongFormKeys& k, uint32_t deviceNumber) {
  const auto base = static_cast<uint16_t>(can_id::DeviceNumber(deviceNumber) + k.deviceOffset);
  const uint16_t deviceTerm = static_cast<uint16_t>(base * base);
  Words s = Load(data);
  OpeningSteps(s, k.k0, k.k1);
  static constexpr int kTarget[3] = {1, 0, 2};
  static constexpr int kSource[3] = {2, 1, 0};
  for (int i = 0; i < keys::kLongFormSteps; ++i)
    SubtractMix(s.w[kTarget[i % 3]], s.w[kSource[i % 3]], LongStepKey(k.steps[i], deviceTerm));
  Store(s, data);
}

void ShortOrLong(uint8_t data[8], uint8_t mode, const keys::ShortFormKeys& shortKeys,
                 const keys::LongFormKeys& longKeys, uint32_t deviceNumber) {
  if (mode == kScrambleShort) ShortForm(data, shortKeys);
  if (mode == kScrambleLong) LongForm(data, longKeys, deviceNumber);
}

void ShortOnly(uint8_t data[8], const keys::ShortFormKeys& shortKeys) {
  if (ScrambleModeOf(data, kModeFieldOfD7) == kScrambleShort) ShortForm(data, shortKeys);
}

}  // namespace

uint8_t ScrambleModeOf(const uint8_t data[8], uint8_t modeBit) {
  const uint32_t dword1 = static_cast<uint32_t>(data[4]) | (static_cast<uint32_t>(data[5]) << 8) |
                          (static_cast<uint32_t>(data[6]) << 16) |
                          (static_cast<uint32_t>(data[7]) << 24);
  return static_cast<uint8_t>((dword1 >> (modeBit & 31)) & 0x3);
}

void RefSecM2(uint8_t data[8], uint32_t deviceNumber, uint8_t modeBit) {
  ShortOrLong(data, ScrambleModeOf(data, modeBit), keys::kMotorControllerShort,
              keys::kMotorControllerLong, deviceNumber);
}

void RefSecD(uint8_t data[8], uint32_t deviceNumber) {
  ShortOrLong(data, ScrambleModeOf(data, kModeFieldOfD7), keys::kEncoderShort, keys::kEncoderLong,
              deviceNumber);
}

void RefSecC(uint8_t data[8]) { ShortOnly(data, keys::kIoBoardShort); }

void RefSecP(uint8_t data[8]) { ShortOnly(data, keys::kImuShort); }
