#include "sim/scrambler.h"

#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

namespace fc = core::firmware_constants;

constexpr int kWords = 4;
constexpr uint8_t kModeFieldMask = 0x3;
// dword1 bit 24 is bit 8 of W3 (d7 is W3's high byte).
constexpr uint8_t kDword1BitOfW3Bit0 = 16;
constexpr uint8_t kDeviceNumberBits = 0x3F;

struct Words {
  uint16_t w[kWords];
};

Words Load(const uint8_t* data) {
  Words words{};
  for (int i = 0; i < kWords; ++i) {
    words.w[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return words;
}

void Store(const Words& words, uint8_t* data) {
  for (int i = 0; i < kWords; ++i) {
    data[2 * i] = static_cast<uint8_t>(words.w[i] & 0xFF);
    data[2 * i + 1] = static_cast<uint8_t>(words.w[i] >> 8);
  }
}

uint16_t Mix(uint16_t x, uint16_t key) {
  return static_cast<uint16_t>(
      static_cast<uint16_t>(x + static_cast<uint16_t>((x << 4) ^ (x >> 5))) ^ key);
}

// W[target] += F(W[source], key): the inverse of one descrambling step.
void Step(Words& words, int target, int source, uint16_t key) {
  words.w[target] = static_cast<uint16_t>(words.w[target] + Mix(words.w[source], key));
}

// What descrambling subtracts from W3, computed from the scrambled W0..W2.
uint16_t W3Offset(const Words& words, uint8_t k0) {
  const uint16_t joined = static_cast<uint16_t>(
      static_cast<uint16_t>((words.w[2] << 4) ^ (words.w[1] >> 5)) + words.w[0]);
  return static_cast<uint16_t>(joined ^ k0);
}

// Descrambling runs W2 -= F(W0, k1), W1 -= F(W2, k2), W0 -= F(W1, k3) after the W3 step.
void ScrambleLowWordsShort(Words& words, const fc::ShortFormKeys& keys) {
  Step(words, 0, 1, keys.k3);
  Step(words, 1, 2, keys.k2);
  Step(words, 2, 0, keys.k1);
}

uint16_t LongStepKey(const fc::LongStepKey& step, uint16_t deviceTerm) {
  switch (step.term) {
    case fc::DeviceTerm::kAdd:
      return static_cast<uint16_t>(step.fixed + deviceTerm);
    case fc::DeviceTerm::kSubtract:
      return static_cast<uint16_t>(step.fixed - deviceTerm);
    case fc::DeviceTerm::kNone:
      break;
  }
  return step.fixed;
}

// Descrambling runs W2 -= F(W0, k1), then step i of the eleven on W1 (from W2), W0 (from W1),
// W2 (from W0) in turn; scrambling runs them backwards.
void ScrambleLowWordsLong(Words& words, const fc::LongFormKeys& keys, uint8_t deviceNumber) {
  constexpr int kTarget[] = {1, 0, 2};
  constexpr int kSource[] = {2, 1, 0};
  const uint16_t base = static_cast<uint16_t>((deviceNumber & kDeviceNumberBits) + keys.deviceOffset);
  const uint16_t deviceTerm = static_cast<uint16_t>(base * base);
  for (int i = fc::kLongFormSteps - 1; i >= 0; --i) {
    Step(words, kTarget[i % 3], kSource[i % 3], LongStepKey(keys.steps[i], deviceTerm));
  }
  Step(words, 2, 0, keys.k1);
}

// Sets W3 = plain W3 + offset, choosing the plain mode-field bits so the sum shows `mode`.
// Adding to the field's bits never changes the bits below it.
void AddW3WithMode(Words& words, uint16_t offset, uint8_t mode, uint8_t modeBit) {
  const int shift = modeBit - kDword1BitOfW3Bit0;
  const uint16_t fieldMask = static_cast<uint16_t>(kModeFieldMask << shift);
  const uint16_t sum = static_cast<uint16_t>((words.w[3] & ~fieldMask) + offset);
  const uint16_t shown = static_cast<uint16_t>((sum >> shift) & kModeFieldMask);
  const uint16_t plainField = static_cast<uint16_t>((mode - shown) & kModeFieldMask);
  words.w[3] = static_cast<uint16_t>(sum + (plainField << shift));
}

const fc::ShortFormKeys* ShortKeysOf(ScrambleRoutine routine) {
  switch (routine) {
    case ScrambleRoutine::kMotorController:
      return &fc::kMotorControllerShort;
    case ScrambleRoutine::kEncoder:
      return &fc::kEncoderShort;
    case ScrambleRoutine::kIoBoard:
      return &fc::kIoBoardShort;
    case ScrambleRoutine::kImu:
      return &fc::kImuShort;
    case ScrambleRoutine::kNone:
      break;
  }
  return nullptr;
}

const fc::LongFormKeys* LongKeysOf(ScrambleRoutine routine) {
  switch (routine) {
    case ScrambleRoutine::kMotorController:
      return &fc::kMotorControllerLong;
    case ScrambleRoutine::kEncoder:
      return &fc::kEncoderLong;
    default:
      return nullptr;
  }
}

void WriteModeField(uint8_t* data, uint8_t mode, uint8_t modeBit) {
  Words words = Load(data);
  const int shift = modeBit - kDword1BitOfW3Bit0;
  words.w[3] = static_cast<uint16_t>((words.w[3] & ~(kModeFieldMask << shift)) |
                                     ((mode & kModeFieldMask) << shift));
  Store(words, data);
}

}  // namespace

bool HasLongForm(ScrambleRoutine routine) { return LongKeysOf(routine) != nullptr; }

void ScrambleShortForm(uint8_t* data, const fc::ShortFormKeys& keys) {
  Words words = Load(data);
  ScrambleLowWordsShort(words, keys);
  words.w[3] = static_cast<uint16_t>(words.w[3] + W3Offset(words, keys.k0));
  Store(words, data);
}

void ScrambleLongForm(uint8_t* data, const fc::LongFormKeys& keys, uint8_t deviceNumber) {
  Words words = Load(data);
  ScrambleLowWordsLong(words, keys, deviceNumber);
  words.w[3] = static_cast<uint16_t>(words.w[3] + W3Offset(words, keys.k0));
  Store(words, data);
}

void ScrambleStatusFrame(uint8_t* data, ScrambleRoutine routine, uint8_t mode, uint8_t modeBit,
                         uint8_t deviceNumber) {
  // A field outside dword1's 2-bit positions names no frame; such a call changes nothing.
  if (modeBit < wire::kFirstModeBit || modeBit > wire::kLastModeBit) return;
  mode &= kModeFieldMask;
  const fc::ShortFormKeys* shortKeys = ShortKeysOf(routine);
  const fc::LongFormKeys* longKeys = LongKeysOf(routine);
  const bool useShort = mode == wire::kScrambleModeShort && shortKeys != nullptr;
  const bool useLong = mode == wire::kScrambleModeLong && longKeys != nullptr;
  if (!useShort && !useLong) {
    if (routine != ScrambleRoutine::kNone) WriteModeField(data, mode, modeBit);
    return;
  }
  Words words = Load(data);
  uint8_t k0;
  if (useShort) {
    ScrambleLowWordsShort(words, *shortKeys);
    k0 = shortKeys->k0;
  } else {
    ScrambleLowWordsLong(words, *longKeys, deviceNumber);
    k0 = longKeys->k0;
  }
  AddW3WithMode(words, W3Offset(words, k0), mode, modeBit);
  Store(words, data);
}

}  // namespace quor::tessera::sim
