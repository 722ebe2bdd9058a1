#include "sim/status_broadcaster.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "sim/device_file.h"
#include "tests/sim/recording_sink.h"

namespace quor::tessera::sim {
namespace {

using testing::Bytes;
using testing::RecordingSink;

struct FrameCase {
  const char* what;
  DeviceFamily family;
  uint8_t deviceNumber;
  std::function<void(DeviceAttributes&)> set;
  uint32_t id;
  std::vector<uint8_t> bytes;  // worked out by hand from the frame layouts (see each case)
};

// The first frame of `id` a freshly started device sends, its state set by `set`.
std::vector<uint8_t> FirstFrame(const FrameCase& c) {
  DeviceAttributes device = DefaultDevice(c.family, c.deviceNumber);
  device.state.broadcast.scramble = ScramblePolicy::kPlain;
  c.set(device);
  RecordingSink sink;
  StatusBroadcaster broadcaster(sink, c.family);
  broadcaster.start(0);
  broadcaster.poll(device, 0);
  for (const CanStreamMessage& frame : sink.frames) {
    if (frame.messageID == c.id) return Bytes(frame);
  }
  return {};
}

TEST(StatusFrames, BytesForAGivenState) {
  const FrameCase kCases[] = {
      // Output 0.5 -> 512 = 0b010'00000000: d3 bits 2-0 = 2, d4 = 0. d0: hardware failure (bit 0)
      // and under-voltage (bit 3). d3: forward switch open (7), forward soft limit (4). d5: mode 2,
      // current limiting (5), brake (6). d6: remote sensor lost (4), voltage compensation (5).
      // d7: enabled (0), PID0 slot 1 (bits 2-1), PID1 slot 2 (bits 4-3), override (7).
      {"Kestrel KX general status", DeviceFamily::kKestrelKx, 1,
       [](DeviceAttributes& d) {
         MotorControllerState& m = d.state.motor;
         m.enabled = true;
         m.controlMode = 2;
         m.output = 0.5;
         m.reverseLimitOpen = false;
         m.faults = kFaultHardwareFailure | kFaultUnderVoltage | kFaultForwardSoftLimit |
                    kFaultRemoteSensorLost;
         m.currentLimiting = true;
         m.voltageCompensation = true;
         m.pidSlotSelect = {1, 2};
         m.limitSwitchOverriddenOff = true;
       },
       0x020401C1, {0x09, 0x00, 0x00, 0x92, 0x00, 0x62, 0x30, 0x93}},
      // Output -1 -> -1023 = 0b100'00000001 in 11 bits; both switches open; coast.
      {"Harrier HX full reverse", DeviceFamily::kHarrierHx, 3,
       [](DeviceAttributes& d) {
         d.state.motor.output = -1.0;
         d.state.motor.brakeInNeutral = false;
       },
       0x010401C3, {0x00, 0x00, 0x00, 0xC4, 0x01, 0x00, 0x00, 0x00}},
      // Quadrature position -2 = FF FF FE, velocity 300 = 01 2C; supply 10.25 A = 82 units:
      // d5 = 82 >> 2 = 0x14, d6 bits 7-6 = 0b10; sticky forward switch (d6.3), reset during
      // enable (d7.2), sensor overflow (d7.6).
      {"Kestrel KX feedback", DeviceFamily::kKestrelKx, 1,
       [](DeviceAttributes& d) {
         MotorControllerState& m = d.state.motor;
         m.quadPosition = -2;
         m.quadVelocity = 300;
         m.supplyCurrent_A = 10.25;
         m.stickyFaults = kFaultForwardLimitSwitch | kFaultResetDuringEnable | kFaultSensorOverflow;
       },
       0x02041441, {0xFF, 0xFF, 0xFE, 0x01, 0x2C, 0x14, 0x88, 0x44}},
      // 9,000,000 does not fit 24 bits: 1,125,000 = 0x112A88 with the x8 flag (d7.4); velocity
      // 40,000 goes as 5,000 = 0x1388 with d7.3.
      {"Kestrel KX feedback beyond its fields", DeviceFamily::kKestrelKx, 1,
       [](DeviceAttributes& d) {
         d.state.motor.quadPosition = 9000000;
         d.state.motor.quadVelocity = 40000;
       },
       0x02041441, {0x11, 0x2A, 0x88, 0x13, 0x88, 0x00, 0x00, 0x18}},
      // Position -1 fills 27 bits (d0-d2, d3 bits 7-5); velocity 100 over 19 bits: d3 bits 4-0
      // = 0, d4 = 100 >> 6 = 1, d5 bits 7-2 = 100 & 63 = 0b100100, d5 bits 1-0 = power-on 1;
      // d6.7 signed; absolute -3 = 0b11111111101: d6 bits 6-0 all ones, d7 bits 7-4 = 0b1101.
      {"Kestrel KF integrated sensor", DeviceFamily::kKestrelKf, 2,
       [](DeviceAttributes& d) {
         MotorControllerState& m = d.state.motor;
         m.integratedPosition = -1;
         m.integratedVelocity = 100;
         m.powerOnBehaviour = 1;
         m.absoluteSigned = true;
         m.absolutePosition = -3;
       },
       0x02042502, {0xFF, 0xFF, 0xFF, 0xE0, 0x01, 0x91, 0xFF, 0xD0}},
      // Channels 0-5: 12.5 A = 100, 0, 127.875 A = 1023, 1 A = 8, 0, 0.125 A = 1, ten bits each
      // from d0 bit 7: 0001100100 0000000000 1111111111 0000001000 0000000000 0000000001.
      {"PDP currents 0-5", DeviceFamily::kPdp, 0,
       [](DeviceAttributes& d) {
         d.state.pdp.channelCurrent_A = {12.5, 0, 127.875, 1.0, 0, 0.125};
       },
       0x08041400, {0x19, 0x00, 0x0F, 0xFC, 0x08, 0x00, 0x00, 0x10}},
      // Firmware 1.24 (280) scales the old way: channel 12 at 8.2516 A = (8.2516 - 1.527115) /
      // 0.067245119 = 100; battery 12.5 V / 0.0554413 = 225 (0xE1); 25 C -> (25 + 67.85645) /
      // 1.0325885 = 90 (0x5A).
      {"PDP currents 12-15, old firmware", DeviceFamily::kPdp, 0,
       [](DeviceAttributes& d) {
         d.firmware = {1, 24, 0, 0};
         d.state.pdp.channelCurrent_A[12] = 8.2516;
       },
       0x08041480, {0x19, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE1, 0x5A}},
      // Solenoids 0, 2, 7 on; d1: compressor on (0), sticky fuse (1), current high now (4),
      // closed loop (6); battery (12.5 - 4) / 0.05 = 170; solenoid 12 V / 0.03125 = 384 =
      // 0110000000 from d3; compressor 2.5 A / 0.03125 = 80 = 0001010000 from d4 bit 5; d5:
      // sticky short (0), enabled (2).
      {"PCM status", DeviceFamily::kPcm, 0,
       [](DeviceAttributes& d) {
         PcmState& p = d.state.pcm;
         p.solenoids = 0x85;
         p.compressorOn = true;
         p.stickyFaults = kPcmFaultSolenoidFuse | kPcmFaultCompressorShort;
         p.faults = kPcmFaultCompressorCurrentHigh;
         p.enabled = true;
         p.compressorCurrent_A = 2.5;
       },
       0x09041400, {0x85, 0x53, 0xAA, 0x60, 0x05, 0x05, 0x00, 0x00}},
      // Yaw 90 deg = 2048 units of 360/8192 over 24 bits; pitch -45 = -1024 = 0xC00 (d3, d4
      // high nibble); roll 10 deg = 227.6 -> 228 = 0x0E4 (d4 low nibble, d5).
      {"Wren yaw, pitch, roll", DeviceFamily::kWren, 4,
       [](DeviceAttributes& d) {
         d.state.imu.yaw_deg = 90;
         d.state.imu.pitch_deg = -45;
         d.state.imu.roll_deg = 10;
       },
       0x15042204, {0x00, 0x08, 0x00, 0xC0, 0x00, 0xE4, 0x00, 0x00}},
      // Battery (12 - 4) / 0.05 = 160; d1: power-on 1 (bits 5-4), magnet orange 2 (bits 7-6);
      // d2: FRC locked (5), robot enabled (7).
      {"CANdial status 2", DeviceFamily::kCandial, 5,
       [](DeviceAttributes& d) {
         d.state.encoder.powerOnBehaviour = 1;
         d.state.encoder.magnetHealth = 2;
         d.state.encoder.frcLocked = true;
         d.state.encoder.robotEnabled = true;
       },
       0x05041445, {0xA0, 0x90, 0xA0, 0x00, 0x00, 0x00, 0x00, 0x00}},
      // PWM input 1 (frame 3): position 1000 = 00 03 E8; period 1000 us / 0.256 = 3906 over 19
      // bits: d3 = 3906 >> 11 = 1, d4 = (3906 >> 3) & 0xFF = 0xE8, d5 bits 7-5 = 3906 & 7 = 2;
      // velocity -8 = 0xFFF8: d5 bits 4-0 = 11111, d6 = 0xFF, d7 bits 7-5 = 000.
      {"CANtap PWM input 1", DeviceFamily::kCantap, 6,
       [](DeviceAttributes& d) {
         d.state.ioBoard.pwmPosition[1] = 1000;
         d.state.ioBoard.pwmVelocity[1] = -8;
         d.state.ioBoard.pwmPeriod_us[1] = 1000;
       },
       0x030414C6, {0x00, 0x03, 0xE8, 0x01, 0xE8, 0x5F, 0xFF, 0x00}},
  };
  for (const FrameCase& c : kCases) EXPECT_EQ(FirstFrame(c), c.bytes) << c.what;
}

// Send times of each frame ID over `duration_ms`, polling every half millisecond.
std::map<uint32_t, std::vector<uint64_t>> SendTimes(const DeviceAttributes& device,
                                                    int duration_ms) {
  RecordingSink sink;
  StatusBroadcaster broadcaster(sink, device.family);
  broadcaster.start(0);
  std::map<uint32_t, std::vector<uint64_t>> times;
  for (uint64_t now = 0; now <= static_cast<uint64_t>(duration_ms) * 1000; now += 500) {
    broadcaster.poll(device, now);
    for (const CanStreamMessage& frame : sink.take()) times[frame.messageID].push_back(now);
  }
  return times;
}

// Frames go out at power-up and then exactly once per period: at n periods, never half a
// millisecond earlier.
TEST(StatusFrames, EachFrameAtTheRateItsNameGives) {
  struct Rate {
    DeviceFamily family;
    uint32_t id;
    uint64_t period_ms;
  };
  const Rate kRates[] = {
      {DeviceFamily::kKestrelKx, 0x020401C1, 10},   // general 10 ms
      {DeviceFamily::kKestrelKx, 0x02041441, 20},   // feedback 20 ms
      {DeviceFamily::kKestrelKx, 0x02041481, 150},  // quadrature 150 ms
      {DeviceFamily::kKestrelKx, 0x020414C1, 150},  // analog, temperature, battery 150 ms
      {DeviceFamily::kKestrelKx, 0x020415C1, 150},  // pulse width 150 ms
      {DeviceFamily::kKestrelKx, 0x020416C1, 160},  // auxiliary feedback 160 ms
      {DeviceFamily::kKestrelKx, 0x02041701, 100},
      {DeviceFamily::kKestrelKf, 0x02042501, 20},
      {DeviceFamily::kKestrelKf, 0x02041241, 20},
      {DeviceFamily::kPdp, 0x08041640, 20},
      {DeviceFamily::kPcm, 0x09041440, 20},
      {DeviceFamily::kWren, 0x15042201, 10},
      {DeviceFamily::kWren, 0x15041D41, 100},
      {DeviceFamily::kCandial, 0x05041401, 10},
      {DeviceFamily::kCantap, 0x03041441, 10},  // general 10 ms
      {DeviceFamily::kCantap, 0x03041541, 100},
  };
  for (const Rate& r : kRates) {
    const auto times = SendTimes(DefaultDevice(r.family, static_cast<uint8_t>(r.id & 0x3F)), 480);
    std::vector<uint64_t> expected;
    for (uint64_t t = 0; t <= 480; t += r.period_ms) expected.push_back(t * 1000);
    ASSERT_TRUE(times.count(r.id)) << std::hex << r.id;
    EXPECT_EQ(times.at(r.id), expected) << std::hex << r.id;
  }
}

TEST(StatusFrames, EveryFamilySendsItsWholeSetWithinTheLongestPeriod) {
  struct Set {
    DeviceFamily family;
    size_t frames;
  };
  // Brushless controllers have no quadrature, pulse-width or port frames, brushed ones no
  // currents, faults, integrated sensor or temperatures.
  const Set kSets[] = {{DeviceFamily::kKestrelKx, 12}, {DeviceFamily::kHarrierHx, 12},
                       {DeviceFamily::kKestrelKf, 13}, {DeviceFamily::kPdp, 4},
                       {DeviceFamily::kPcm, 2},        {DeviceFamily::kWren, 12},
                       {DeviceFamily::kCandial, 5},    {DeviceFamily::kCantap, 6}};
  for (const Set& s : kSets) {
    EXPECT_EQ(SendTimes(DefaultDevice(s.family, 1), 160).size(), s.frames);
  }
  const auto kf = SendTimes(DefaultDevice(DeviceFamily::kKestrelKf, 2), 160);
  for (uint32_t api : {0x1480u, 0x15C0u, 0x1680u}) EXPECT_EQ(kf.count(0x02040002u | api), 0u);
}

TEST(StatusFrames, OmittedFramesNeverGoOutNorWakeTheDevice) {
  DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
  kx.state.broadcast.omittedApis = {0x1480, 0x15C0};
  const auto times = SendTimes(kx, 300);
  EXPECT_EQ(times.size(), 10u);
  EXPECT_EQ(times.count(0x02041481), 0u);
  EXPECT_EQ(times.count(0x020415C1), 0u);

  RecordingSink sink;
  StatusBroadcaster broadcaster(sink, DeviceFamily::kKestrelKx);
  broadcaster.start(5000);
  EXPECT_EQ(broadcaster.nextDeadline_us(kx.state.broadcast), 5000u);
  broadcaster.poll(kx, 5000);
  EXPECT_EQ(broadcaster.nextDeadline_us(kx.state.broadcast), 15000u) << "the 10 ms frame";
  kx.state.broadcast.omitAll = true;
  EXPECT_EQ(broadcaster.nextDeadline_us(kx.state.broadcast), StatusBroadcaster::kNever);
  broadcaster.poll(kx, 1000000);
  EXPECT_EQ(sink.take().size(), 10u) << "only the first poll sent anything";
}

// Mode field of the general status frame: dword1 bits 30-29, that is d7 bits 6-5.
TEST(StatusFrames, ScrambleModeVariesFrameToFrame) {
  RecordingSink sink;
  const DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
  StatusBroadcaster broadcaster(sink, DeviceFamily::kKestrelKx);
  broadcaster.start(0);
  std::vector<int> modes;
  for (uint64_t now = 0; now <= 50000; now += 10000) {
    broadcaster.poll(kx, now);
    for (const CanStreamMessage& frame : sink.take()) {
      if (frame.messageID == 0x020401C1) modes.push_back((frame.data[7] >> 5) & 0x3);
    }
  }
  EXPECT_EQ(modes, (std::vector<int>{0, 1, 2, 3, 0, 1}));
}

}  // namespace
}  // namespace quor::tessera::sim
