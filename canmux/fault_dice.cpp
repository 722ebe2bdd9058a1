#include "canmux/fault_dice.h"

namespace {

constexpr int kDrawBits = 53;  // as many as a double's mantissa: shares are exact to 1e-15
constexpr uint64_t kDrawRange = uint64_t{1} << kDrawBits;

uint64_t Threshold(double percent) {
  if (percent <= 0) return 0;
  if (percent >= 100) return kDrawRange;
  return static_cast<uint64_t>(percent / 100.0 * static_cast<double>(kDrawRange));
}

}  // namespace

FaultDice::FaultDice(const FrameFaults& faults, uint64_t seed, uint64_t stream)
    : state_(seed ^ (stream * 0xD1B54A32D192ED03ull)),
      dropBelow_(Threshold(faults.drop_percent)),
      duplicateBelow_(Threshold(faults.drop_percent + faults.duplicate_percent)),
      delayBelow_(Threshold(faults.totalPercent())) {}

uint64_t FaultDice::nextBits() {
  // SplitMix64 (Steele, Lea, Flood 2014): one add and a mix per draw, a full period of 2^64.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

FaultDice::Fate FaultDice::next() {
  const uint64_t draw = nextBits() >> (64 - kDrawBits);
  if (draw < dropBelow_) return Fate::kDrop;
  if (draw < duplicateBelow_) return Fate::kDuplicate;
  if (draw < delayBelow_) return Fate::kDelay;
  return Fate::kDeliver;
}
