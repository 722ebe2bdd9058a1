#include "sim/scrambler.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace quor::tessera::sim {
namespace {

namespace fc = core::firmware_constants;
using Frame = std::array<uint8_t, 8>;

// Descrambling exactly as the status-frame rules state it, written here so the device's
// scrambling is checked against the rules and not against itself: words W0..W3 little-endian,
// F(x, k) = (x + ((x << 4) ^ (x >> 5))) ^ k, everything modulo 2^16.
uint16_t F(uint16_t x, uint16_t k) {
  return static_cast<uint16_t>((x + ((x << 4) ^ (x >> 5))) ^ k);
}

struct W {
  uint16_t w0, w1, w2, w3;
};

W Words(const Frame& d) {
  return {static_cast<uint16_t>(d[0] | d[1] << 8), static_cast<uint16_t>(d[2] | d[3] << 8),
          static_cast<uint16_t>(d[4] | d[5] << 8), static_cast<uint16_t>(d[6] | d[7] << 8)};
}

Frame Bytes(const W& w) {
  return {static_cast<uint8_t>(w.w0), static_cast<uint8_t>(w.w0 >> 8),
          static_cast<uint8_t>(w.w1), static_cast<uint8_t>(w.w1 >> 8),
          static_cast<uint8_t>(w.w2), static_cast<uint8_t>(w.w2 >> 8),
          static_cast<uint8_t>(w.w3), static_cast<uint8_t>(w.w3 >> 8)};
}

void FirstStep(W& w, uint8_t k0) {
  w.w3 = static_cast<uint16_t>(
      w.w3 - ((static_cast<uint16_t>(((w.w2 << 4) ^ (w.w1 >> 5)) + w.w0)) ^ k0));
}

Frame DescrambleShort(const Frame& frame, const fc::ShortFormKeys& k) {
  W w = Words(frame);
  FirstStep(w, k.k0);
  w.w2 = static_cast<uint16_t>(w.w2 - F(w.w0, k.k1));
  w.w1 = static_cast<uint16_t>(w.w1 - F(w.w2, k.k2));
  w.w0 = static_cast<uint16_t>(w.w0 - F(w.w1, k.k3));
  return Bytes(w);
}

Frame DescrambleLong(const Frame& frame, const fc::LongFormKeys& k, uint8_t deviceNumber) {
  W w = Words(frame);
  FirstStep(w, k.k0);
  w.w2 = static_cast<uint16_t>(w.w2 - F(w.w0, k.k1));
  const uint16_t base = static_cast<uint16_t>((deviceNumber & 0x3F) + k.deviceOffset);
  const uint16_t square = static_cast<uint16_t>(base * base);
  for (int i = 0; i < fc::kLongFormSteps; ++i) {
    uint16_t key = k.steps[i].fixed;
    if (k.steps[i].term == fc::DeviceTerm::kAdd) key = static_cast<uint16_t>(key + square);
    if (k.steps[i].term == fc::DeviceTerm::kSubtract) key = static_cast<uint16_t>(key - square);
    if (i % 3 == 0) w.w1 = static_cast<uint16_t>(w.w1 - F(w.w2, key));
    if (i % 3 == 1) w.w0 = static_cast<uint16_t>(w.w0 - F(w.w1, key));
    if (i % 3 == 2) w.w2 = static_cast<uint16_t>(w.w2 - F(w.w0, key));
  }
  return Bytes(w);
}

struct Routine {
  const char* name;
  ScrambleRoutine routine;
  const fc::ShortFormKeys* shortKeys;
  const fc::LongFormKeys* longKeys;  // nullptr: short form only
};

const Routine kRoutines[] = {
    {"motor controller", ScrambleRoutine::kMotorController, &fc::kMotorControllerShort,
     &fc::kMotorControllerLong},
    {"encoder", ScrambleRoutine::kEncoder, &fc::kEncoderShort, &fc::kEncoderLong},
    {"I/O board", ScrambleRoutine::kIoBoard, &fc::kIoBoardShort, nullptr},
    {"IMU", ScrambleRoutine::kImu, &fc::kImuShort, nullptr},
};

Frame RandomFrame(std::mt19937& random) {
  Frame frame;
  for (uint8_t& byte : frame) byte = static_cast<uint8_t>(random());
  return frame;
}

// Both forms are bijections on eight bytes: the rules' descrambling undoes them and they undo
// the rules' descrambling, for every device number.
TEST(Scrambling, EachFormIsTheInverseOfTheRulesDescrambling) {
  std::mt19937 random(20240611);
  for (const Routine& r : kRoutines) {
    EXPECT_EQ(HasLongForm(r.routine), r.longKeys != nullptr) << r.name;
    for (int trial = 0; trial < 2000; ++trial) {
      const Frame plain = RandomFrame(random);
      const uint8_t deviceNumber = static_cast<uint8_t>(trial % 64);
      Frame scrambled = plain;
      ScrambleShortForm(scrambled.data(), *r.shortKeys);
      ASSERT_EQ(DescrambleShort(scrambled, *r.shortKeys), plain) << r.name << " short " << trial;
      Frame back = DescrambleShort(plain, *r.shortKeys);
      ScrambleShortForm(back.data(), *r.shortKeys);
      ASSERT_EQ(back, plain) << r.name << " short, other way " << trial;
      if (r.longKeys == nullptr) continue;
      scrambled = plain;
      ScrambleLongForm(scrambled.data(), *r.longKeys, deviceNumber);
      ASSERT_EQ(DescrambleLong(scrambled, *r.longKeys, deviceNumber), plain)
          << r.name << " long " << trial;
      back = DescrambleLong(plain, *r.longKeys, deviceNumber);
      ScrambleLongForm(back.data(), *r.longKeys, deviceNumber);
      ASSERT_EQ(back, plain) << r.name << " long, other way " << trial;
    }
  }
}

// The 2-bit mode field starts at bit `modeBit` of dword1 = d4 | d5 << 8 | d6 << 16 | d7 << 24.
uint8_t ModeField(const Frame& d, int modeBit) {
  const uint32_t dword1 = d[4] | d[5] << 8 | d[6] << 16 | static_cast<uint32_t>(d[7]) << 24;
  return static_cast<uint8_t>((dword1 >> modeBit) & 0x3);
}

Frame WithoutField(Frame d, int modeBit) {
  d[7] = static_cast<uint8_t>(d[7] & ~(0x3 << (modeBit - 24)));
  return d;
}

// Every mode shows in the field the frame type names, the scrambled frames descramble by the
// rules (for the mode the field shows) back to the plain signals, and plain modes leave the
// signals untouched. Mode 2 has no long form to use under the I/O-board and IMU routines.
TEST(Scrambling, ModeFieldShowsTheModeAndTheSignalsSurvive) {
  struct Case {
    const Routine* routine;
    int modeBit;
  };
  const Case kCases[] = {{&kRoutines[0], 29}, {&kRoutines[0], 24}, {&kRoutines[0], 27},
                         {&kRoutines[0], 30}, {&kRoutines[1], 24}, {&kRoutines[2], 24},
                         {&kRoutines[3], 24}};
  std::mt19937 random(7);
  for (const Case& c : kCases) {
    for (uint8_t mode = 0; mode < 4; ++mode) {
      for (int trial = 0; trial < 200; ++trial) {
        const Frame plain = RandomFrame(random);
        const uint8_t deviceNumber = static_cast<uint8_t>(random() % 63);
        Frame wire = plain;
        ScrambleStatusFrame(wire.data(), c.routine->routine, mode, static_cast<uint8_t>(c.modeBit),
                            deviceNumber);
        ASSERT_EQ(ModeField(wire, c.modeBit), mode) << c.routine->name << " bit " << c.modeBit;
        Frame read = wire;
        if (mode == 1) read = DescrambleShort(wire, *c.routine->shortKeys);
        if (mode == 2 && c.routine->longKeys != nullptr) {
          read = DescrambleLong(wire, *c.routine->longKeys, deviceNumber);
        }
        ASSERT_EQ(WithoutField(read, c.modeBit), WithoutField(plain, c.modeBit))
            << c.routine->name << " bit " << c.modeBit << " mode " << int{mode};
      }
    }
  }
}

TEST(Scrambling, UnscrambledFramesAndImpossibleFieldsAreLeftAlone) {
  const Frame plain = {1, 2, 3, 4, 5, 6, 7, 8};
  Frame frame = plain;
  ScrambleStatusFrame(frame.data(), ScrambleRoutine::kNone, 1, 24, 0);
  EXPECT_EQ(frame, plain);
  ScrambleStatusFrame(frame.data(), ScrambleRoutine::kMotorController, 1, 31, 0);
  EXPECT_EQ(frame, plain) << "a field at bit 31 would run off the frame";
  ScrambleStatusFrame(frame.data(), ScrambleRoutine::kMotorController, 3, 24, 0);
  EXPECT_EQ(frame, (Frame{1, 2, 3, 4, 5, 6, 7, 0x0B})) << "mode 3 is plain: only d7 bits 1-0 change";
}

}  // namespace
}  // namespace quor::tessera::sim
