#pragma once
// Decides the fate of each frame of one direction of a misbehaving bus (canmux/bus_faults.h):
// one draw per frame from a SplitMix64 sequence, so a seed fixes every decision.
#include <cstdint>

#include "canmux/bus_faults.h"

class FaultDice {
 public:
  enum class Fate { kDeliver, kDrop, kDuplicate, kDelay };

  // `stream` tells the directions of one seed apart.
  FaultDice(const FrameFaults& faults, uint64_t seed, uint64_t stream);

  Fate next();

 private:
  uint64_t nextBits();

  uint64_t state_;
  // Thresholds on 53-bit draws: below dropBelow_ drop, then duplicate, then delay.
  uint64_t dropBelow_;
  uint64_t duplicateBelow_;
  uint64_t delayBelow_;
};
