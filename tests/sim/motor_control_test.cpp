#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/device_file.h"
#include "sim/motor_model.h"
#include "sim/sim_device.h"
#include "tests/sim/control_frames.h"

namespace quor::tessera::sim {
namespace {

using testing::CheckBitForFolded;
using testing::Frame;
using testing::RecordingSink;
using testing::WithCheckBit;

constexpr uint32_t kKxControlId = 0x02040201;  // type 2, API 0x0200, number 1
constexpr uint32_t kKxGeneralId = 0x020401C1;
constexpr uint32_t kEnableId = 0x000401BF;
constexpr uint64_t kMs = 1000;

CanStreamMessage Control(int32_t demand0, uint8_t mode) {
  return testing::ControlFrame(kKxControlId, demand0, mode);
}

class MotorControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
    kx.state.broadcast.scramble = ScramblePolicy::kPlain;
    sink.frames.clear();
    device = std::make_unique<SimDevice>(sink, kx, 1);
    device->plugIn(0);
  }

  // Plays a server's control: the frame, then the enable frame, every 10 ms from `from` for
  // `count` ticks; returns the time of the last tick.
  uint64_t drive(const CanStreamMessage& control, uint64_t from, int count, bool enable = true) {
    uint64_t now = from;
    for (int i = 0; i < count; ++i, now += 10 * kMs) {
      runTo(now);
      device->onFrame(control, now);
      if (enable) device->onFrame(Frame(kEnableId, {0x01, 0x00}), now);
    }
    return now - 10 * kMs;
  }

  void runTo(uint64_t now) {
    for (; clock <= now; clock += 500) device->poll(clock);
    clock = now;
    device->poll(now);
  }

  const MotorControllerState& motor() { return device->state().motor; }

  // Applied output of the newest general status frame: d3 bits 2-0 and d4, signed 11 bits.
  int lastOutputSent() {
    int output = 9999;
    for (const CanStreamMessage& f : sink.frames) {
      if (f.messageID != kKxGeneralId) continue;
      const int raw = (f.data[3] & 0x7) << 8 | f.data[4];
      output = raw >= 1024 ? raw - 2048 : raw;
    }
    return output;
  }

  RecordingSink sink;
  std::unique_ptr<SimDevice> device;
  uint64_t clock = 0;
};

TEST_F(MotorControlTest, CheckBitDecidesWhetherAFrameCounts) {
  // Hand-folded: the exclusive-or of the bytes without the check bit, high nibble ^ low nibble.
  struct Case {
    std::vector<uint8_t> bytes;
    uint8_t folded;
  };
  const Case kCases[] = {
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x0},
      {{0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x2},
      {{0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xC2, 0x00, 0x00}, 0xE},  // x = 0xC2
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x25, 0x81}, 0xE},  // x = 0xA4
      {{0x12, 0x34, 0x56, 0x78, 0x9A, 0x9C, 0x56, 0xD0}, 0x1},  // x = 0x98, d6 bit 4 left out
  };
  uint32_t accepted = 0;
  uint32_t rejected = 0;
  for (const Case& c : kCases) {
    CanStreamMessage frame = Frame(kKxControlId, {});
    for (size_t i = 0; i < 8; ++i) frame.data[i] = c.bytes[i];
    frame.dataSize = 8;
    const bool bit = CheckBitForFolded(c.folded);
    device->onFrame(WithCheckBit(frame, bit), 0);
    EXPECT_EQ(device->statusAndControl().controlFramesAccepted(), ++accepted);
    device->onFrame(WithCheckBit(frame, !bit), 0);
    EXPECT_EQ(device->statusAndControl().controlFramesRejected(), ++rejected);
  }
  CanStreamMessage shortFrame = Control(0, 0);
  shortFrame.dataSize = 7;
  device->onFrame(shortFrame, 0);
  EXPECT_EQ(device->statusAndControl().controlFramesRejected(), ++rejected);
}

TEST_F(MotorControlTest, FramesWithAWrongCheckBitMoveNothing) {
  CanStreamMessage bad = Control(512, 0);
  bad.data[6] ^= 0x10;
  drive(bad, 0, 30);
  EXPECT_EQ(motor().output, 0.0);
  EXPECT_EQ(motor().quadVelocity, 0);
  EXPECT_TRUE(motor().enabledByFrames) << "the enable frames themselves count";
}

TEST_F(MotorControlTest, ControlFramesNeedTheEnableFrame) {
  drive(Control(512, 0), 0, 30, /*enable=*/false);
  EXPECT_EQ(motor().output, 0.0);
  EXPECT_EQ(motor().quadPosition, 0);

  device->state().motor.enabled = true;  // a robot controller elsewhere enables it
  drive(Control(512, 0), 300 * kMs, 3, false);
  EXPECT_NEAR(motor().output, 512.0 / 1023, 1e-9);
}

// First order: with load L the speed approaches u * free / (1 + L) with time constant
// tau / (1 + L); the stator current settles at stall * u * L / (1 + L).
TEST_F(MotorControlTest, PercentOutputDrivesAFirstOrderMotor) {
  const MotorParameters p = MotorParametersOf(DeviceFamily::kKestrelKx);
  for (double load : {0.0, 0.1, 0.5}) {
    SetUp();
    clock = 0;
    device->state().motor.load = load;
    const double u = 512.0 / 1023;
    const double final = u * p.freeSpeed / (1 + load);
    drive(Control(512, 0), 0, 5);
    runTo(50 * kMs);  // 50 ms since the first frame
    const double expected50 = final * (1 - std::exp(-50.0 * (1 + load) / p.timeConstant_ms));
    EXPECT_NEAR(motor().quadVelocity, expected50, final * 0.01 + 1) << "load " << load;
    drive(Control(512, 0), 50 * kMs, 100);
    EXPECT_NEAR(motor().quadVelocity, final, 1) << "load " << load;
    EXPECT_NEAR(motor().statorCurrent_A, p.stallCurrent_A * u * load / (1 + load), 0.01);
    EXPECT_NEAR(motor().supplyCurrent_A, motor().statorCurrent_A * u, 0.01);
    EXPECT_GT(motor().quadPosition, 0);
    EXPECT_EQ(lastOutputSent(), 512);
    EXPECT_EQ(motor().controlMode, 0);
  }
}

TEST_F(MotorControlTest, VelocityModeReachesItsTarget) {
  drive(Control(3000, 2), 0, 100);
  EXPECT_NEAR(motor().quadVelocity, 3000, 2);
  EXPECT_EQ(motor().controlMode, 2);
  EXPECT_EQ(motor().targetVelocity[0], 3000);
  EXPECT_TRUE(motor().targetValid[0]);
  EXPECT_LE(std::abs(motor().pidError[0]), 2);
  EXPECT_GT(motor().output, 0.0);
  EXPECT_LT(motor().output, 1.0);
}

// The last frame counts for 100 ms: still driven at 100 ms, neutral at 101 ms; the motor then
// coasts to rest and the model lets go of the state.
TEST_F(MotorControlTest, StopsWhenTheFramesStop) {
  const uint64_t last = drive(Control(-700, 0), 0, 50);
  runTo(last + 100 * kMs);
  EXPECT_NEAR(motor().output, -700.0 / 1023, 1e-9);
  runTo(last + 101 * kMs);
  EXPECT_EQ(motor().output, 0.0);
  EXPECT_EQ(lastOutputSent(), -700) << "no general frame since 100 ms";
  runTo(last + 110 * kMs);
  EXPECT_EQ(lastOutputSent(), 0);
  EXPECT_FALSE(motor().enabledByFrames);
  runTo(last + 2000 * kMs);
  EXPECT_EQ(motor().quadVelocity, 0);
  EXPECT_EQ(motor().statorCurrent_A, 0.0);
  EXPECT_LT(motor().quadPosition, 0);
  device->state().motor.quadVelocity = 123;
  runTo(last + 2100 * kMs);
  EXPECT_EQ(motor().quadVelocity, 123) << "a motor at rest reports the state as set";
}

// The enable frame is two bytes, 01 00, and a control frame sets no bit outside its fields;
// frames of another shape are not obeyed, whatever their check bit says.
TEST_F(MotorControlTest, FramesOfAnotherShapeDriveNothing) {
  const std::vector<uint8_t> demand512 = {0x00, 0x02, 0x00, 0, 0, 0, 0, 0};
  const auto withBit = [&demand512](int byte, uint8_t bit) {
    std::vector<uint8_t> d = demand512;
    d[byte] |= bit;
    return d;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> control;
    std::vector<uint8_t> enable;
    bool driven;
  };
  const Case cases[] = {
      {"as a server sends them", demand512, {0x01, 0x00}, true},
      {"enable frame of one byte", demand512, {0x01}, false},
      {"enable frame of three bytes", demand512, {0x01, 0x00, 0x00}, false},
      {"enable frame with d1 set", demand512, {0x01, 0x01}, false},
      {"d5 bit 5", withBit(5, 0x20), {0x01, 0x00}, false},
      {"d6 bit 3", withBit(6, 0x08), {0x01, 0x00}, false},
      {"d6 bit 7", withBit(6, 0x80), {0x01, 0x00}, false},
      {"d7 bit 5", withBit(7, 0x20), {0x01, 0x00}, false},
  };
  for (const Case& c : cases) {
    SetUp();
    clock = 0;
    for (uint64_t now = 0; now < 100 * kMs; now += 10 * kMs) {
      runTo(now);
      device->onFrame(testing::CheckedControlFrame(kKxControlId, c.control), now);
      device->onFrame(Frame(kEnableId, c.enable), now);
    }
    runTo(100 * kMs);
    EXPECT_EQ(motor().output, c.driven ? 512.0 / 1023 : 0.0) << c.what;
  }
}

// Demand 1 (here -150: FF DA, then 2 in d5's top bits) adds to the output only when d6 bit 6
// marks it an arbitrary feed-forward.
TEST_F(MotorControlTest, DemandOneIsAFeedForwardWhenMarkedSo) {
  const std::pair<uint8_t, int> cases[] = {{0x40, 464 - 150}, {0x00, 464}};
  for (const auto& [flag, output] : cases) {
    SetUp();
    clock = 0;
    drive(testing::CheckedControlFrame(kKxControlId, {0x00, 0x01, 0xD0, 0xFF, 0xDA, 0x80, flag, 0}),
          0, 5);
    runTo(45 * kMs);
    EXPECT_NEAR(motor().output, output / 1023.0, 1e-9) << int{flag};
    EXPECT_EQ(lastOutputSent(), output) << int{flag};
  }
}

TEST_F(MotorControlTest, EnableFrameWithEnableClearStopsAtOnce) {
  const uint64_t last = drive(Control(512, 0), 0, 10);
  device->onFrame(Frame(kEnableId, {0x00, 0x00}), last + kMs);
  runTo(last + 2 * kMs);
  EXPECT_EQ(motor().output, 0.0);
}

}  // namespace
}  // namespace quor::tessera::sim
