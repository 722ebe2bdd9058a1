// Frames scrambled by the simulated devices' own firmware code come back to their plain bytes
// through the engine's descrambling, in every mode, form and mode-field position.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "selftest/frame_descrambler.h"
#include "sim/scrambler.h"

namespace {

using quor::tessera::sim::ScrambleRoutine;
using quor::tessera::sim::ScrambleStatusFrame;

struct Routine {
  const char* name;
  ScrambleRoutine simulated;
  uint8_t modeBit;
  std::function<void(uint8_t*, uint8_t deviceNumber)> descramble;
};

// Everything but the two-bit mode field, whose plain bits the device chooses.
uint64_t WithoutModeField(const uint8_t* d, uint8_t modeBit) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | d[i];
  return value & ~(uint64_t{3} << (32 + modeBit));
}

}  // namespace

TEST(DescramblingRoundTrip, SimulatedFirmwareFramesComeBackPlain) {
  const Routine routines[] = {
      {"M2 at 24", ScrambleRoutine::kMotorController, 24,
       [](uint8_t* d, uint8_t n) { RefSecM2(d, n, 24); }},
      {"M2 at 27", ScrambleRoutine::kMotorController, 27,
       [](uint8_t* d, uint8_t n) { RefSecM2(d, n, 27); }},
      {"M2 at 29", ScrambleRoutine::kMotorController, 29,
       [](uint8_t* d, uint8_t n) { RefSecM2(d, n, 29); }},
      {"M2 at 30", ScrambleRoutine::kMotorController, 30,
       [](uint8_t* d, uint8_t n) { RefSecM2(d, n, 30); }},
      {"D", ScrambleRoutine::kEncoder, 24, [](uint8_t* d, uint8_t n) { RefSecD(d, n); }},
      {"C", ScrambleRoutine::kIoBoard, 24, [](uint8_t* d, uint8_t) { RefSecC(d); }},
      {"P", ScrambleRoutine::kImu, 24, [](uint8_t* d, uint8_t) { RefSecP(d); }},
  };
  std::mt19937 random(20261208);
  for (const Routine& routine : routines) {
    for (uint8_t mode = 0; mode < 4; ++mode) {
      for (uint8_t deviceNumber : {0, 1, 33, 62}) {
        for (int frame = 0; frame < 50; ++frame) {
          uint8_t plain[8];
          for (uint8_t& byte : plain) byte = static_cast<uint8_t>(random());
          uint8_t wire[8];
          std::copy(plain, plain + 8, wire);
          ScrambleStatusFrame(wire, routine.simulated, mode, routine.modeBit, deviceNumber);
          ASSERT_EQ(ScrambleModeOf(wire, routine.modeBit), mode) << routine.name;
          routine.descramble(wire, deviceNumber);
          ASSERT_EQ(WithoutModeField(wire, routine.modeBit),
                    WithoutModeField(plain, routine.modeBit))
              << routine.name << " mode " << int{mode} << " device " << int{deviceNumber};
        }
      }
    }
  }
}
