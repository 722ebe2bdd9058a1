// The engine's descramblers against the simulated devices' scrambler, which is written apart
// from them in the other direction: any frame scrambled in any mode, with any device number,
// must come back as it was, except for the mode field the device writes into it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/support/fuzz_input.h"
#include "selftest/frame_descrambler.h"
#include "sim/scrambler.h"

namespace {

using quor::tessera::sim::ScrambleRoutine;
using quor::tessera::sim::ScrambleStatusFrame;

constexpr uint8_t kIoAndImuModeBit = 24;  // d7 bits 0-1

uint32_t dword1(const uint8_t* d) {
  return d[4] | d[5] << 8 | d[6] << 16 | static_cast<uint32_t>(d[7]) << 24;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::FuzzInput input(data, size);
  const auto routine = static_cast<ScrambleRoutine>(input.upTo(3) + 1);
  const uint8_t mode = static_cast<uint8_t>(input.upTo(3));
  const uint8_t deviceNumber = static_cast<uint8_t>(input.upTo(63));
  // Motor-controller frames carry their mode field at one of four places; the others at d7.
  constexpr uint8_t kMotorModeBits[] = {24, 27, 29, 30};
  const uint8_t motorModeBit = kMotorModeBits[input.upTo(3)];
  const uint8_t modeBit =
      routine == ScrambleRoutine::kMotorController ? motorModeBit : kIoAndImuModeBit;
  uint8_t plain[8] = {};
  const std::vector<uint8_t> bytes = input.bytes(sizeof plain);
  if (!bytes.empty()) std::memcpy(plain, bytes.data(), bytes.size());
  uint8_t frame[8];
  std::memcpy(frame, plain, sizeof frame);
  ScrambleStatusFrame(frame, routine, mode, modeBit, deviceNumber);
  switch (routine) {
    case ScrambleRoutine::kMotorController: RefSecM2(frame, deviceNumber, modeBit); break;
    case ScrambleRoutine::kEncoder: RefSecD(frame, deviceNumber); break;
    case ScrambleRoutine::kIoBoard: RefSecC(frame); break;
    default: RefSecP(frame); break;
  }
  const uint32_t field = 3u << modeBit;
  check(std::memcmp(frame, plain, 4) == 0);
  check((dword1(frame) & ~field) == (dword1(plain) & ~field));
  return 0;
}
