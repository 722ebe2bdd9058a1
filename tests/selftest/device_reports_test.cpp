// Whole self-test texts of the power-distribution panel, pneumatics module, IMU, CAN encoder
// and I/O board, built from hand-made status frames; the expected texts are written out by
// hand in tests/support/self_test_texts.h.
#include <gtest/gtest.h>

#include "device/error_codes.h"
#include "listed_frame_source.h"
#include "tests/support/self_test_texts.h"

using namespace selftest_test;
using namespace self_test_texts;

namespace {

struct Case {
  const char* name;
  const _Device& device;
  std::vector<TestFrame> frames;
  int code;
  std::string text;  // without the footer
};

void Check(const Case& c) {
  const SelfTestRun run = RunSelfTest(c.device, c.frames);
  EXPECT_EQ(run.code, c.code) << c.name;
  EXPECT_EQ(run.text, c.text + Footer()) << c.name;
}

// Channels 0-5 read 0, 8, 80, 1023, 3 and 100; 12 reads 16; battery 170, temperature 90.
const TestFrame kPdpCurrents1{0x08041400, {0x00, 0x00, 0x81, 0x43, 0xFF, 0x00, 0xC6, 0x40}};
const TestFrame kPdpCurrents2{0x08041440, {0, 0, 0, 0, 0, 0, 0, 0}};
const TestFrame kPdpCurrents3{0x08041480, {0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x5A}};

}  // namespace

TEST(DeviceReports, PowerDistributionPanel) {
  const _Device pdp = MakeDevice(0x0804FC00, "PDP", "PDP (Device ID 0)", 1, 40);
  const _Device oldPdp = MakeDevice(0x0804FC00, "PDP", "PDP (Device ID 0)", 1, 24);
  const TestFrame noFaults{0x08041640, {0, 0, 0, 0, 0, 0, 0, 0}};
  const Case cases[] = {
      {"healthy",
       pdp,
       {kPdpCurrents1, kPdpCurrents2, kPdpCurrents3, noFaults},
       QUOR_DI_OKAY,
       kPdpChannels + std::string(kPdpNoFaults) + kToClearStickyFaults},
      {"old firmware, cold, faulted",
       oldPdp,
       {{0x08041400, {0x00, 0x80, 0x40, 0, 0, 0, 0, 0}},
        kPdpCurrents2,
        {0x08041480, {0, 0, 0, 0, 0, 0, 0xC8, 0x32}},
        {0x08041640, {0x80, 0x01, 0x00, 0x03, 0x58, 0, 0, 0}}},
       QUOR_DI_OKAY,
       kPdpOldFaulted + kToClearStickyFaults},
      {"fourth frame never arrives",
       pdp,
       {kPdpCurrents1, kPdpCurrents2, kPdpCurrents3},
       QUOR_DI_NormalModeMsgNotPresent,
       kPdpChannels + NoFramesText("PDP (Device ID 0)")},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, PneumaticsModule) {
  const _Device pcm = MakeDevice(0x0904FC00, "PCM", "PCM (Device ID 0)", 1, 65);
  const _Device oldPcm = MakeDevice(0x0904FC00, "PCM", "PCM (Device ID 0)", 1, 30);
  const TestFrame running{0x09041400, {0x05, 0x41, 0xA0, 0x60, 0x04, 0x04, 0x00, 0x00}};
  const Case cases[] = {
      {"compressing",
       pcm,
       {running, {0x09041440, {0, 0, 0, 0, 0, 0, 0, 0}}},
       QUOR_DI_OKAY,
       kPcmCompressing + kPcmClosing},
      {"old firmware, faulted",
       oldPcm,
       {{0x09041400, {0x00, 0xF6, 0xC8, 0x7D, 0x06, 0x45, 0x00, 0x00}},
        {0x09041440, {0x81, 0x10, 0, 0, 0, 0, 0, 0}}},
       QUOR_DI_OKAY,
       kPcmOldFaulted + kPcmClosing},
      {"one frame only",
       pcm,
       {running},
       QUOR_DI_NormalModeMsgNotPresent,
       NoFramesText("PCM (Device ID 0)")},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, ImuStandAloneAndOnRibbonCable) {
  const _Device wren = MakeDevice(0x1504FC04, "Wren", "Wren (Device ID 4)", 20, 3);
  const _Device ribbon = MakeDevice(0x0204F401, "Wren", "Wren (Kestrel KX 1)", 3, 9);
  const Case cases[] = {
      {"running",
       wren,
       {{0x15042004, {0x19, 0x80, 0x0E, 0x02, 0x32, 0x21, 0x00, 0x78}},
        {0x15042044, {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0x00}},
        {0x15042084, {0x20, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x15042144, {0x01, 0x00, 0x05, 0x09, 0x00, 0x02, 0x00, 0x00}},
        {0x15042204, {0x00, 0x08, 0x00, 0xC0, 0x00, 0x01, 0x00, 0x00}},
        {0x15042244, {0x7F, 0xF0, 0x00, 0x80, 0x10, 0x01, 0x00, 0x00}},
        {0x15042284, {0x20, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x10, 0x00}},
        {0x15042384, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0x150423C4, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0x15041C44, {0x00, 0xA4, 0xFF, 0xAE, 0x00, 0x00, 0x00, 0x00}},
        {0x15041CC4, {0x00, 0x64, 0xFF, 0x9C, 0x03, 0xE8, 0x00, 0x00}},
        {0x15041D44, {0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00}}},
       QUOR_DI_OKAY,
       kWrenRunning + kClearsStickyFaults},
      {"boot-calibrating on a ribbon cable, old firmware, most frames missing",
       ribbon,
       {{0x02042001, {0xFF, 0x00, 0x0F, 0x05, 0x00, 0x4F, 0x00, 0x00}},
        {0x02041CC1, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00}}},
       QUOR_DI_OKAY,
       kWrenBootCalibrating + kClearsStickyFaults},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, MagneticEncoder) {
  const _Device candial = MakeDevice(0x0504FC05, "CANdial", "CANdial (Device ID 5)", 22, 0);
  const _Device oldCandial = MakeDevice(0x0504FC05, "CANdial", "CANdial (Device ID 5)", 19, 0);
  const Case cases[] = {
      {"default units, magnet ideal",
       candial,
       {{0x05041405, {0x00, 0x02, 0x00, 0x1F, 0xFF, 0x00, 0x80, 0x00}},
        {0x05041445, {0xB4, 0xC0, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00}}},
       QUOR_DI_OKAY,
       kCandialDefaultUnits + kToClearStickyFaults},
      {"degrees at half a degree a count, per minute, magnet unknown, old firmware",
       oldCandial,
       {{0x05041405, {0xFF, 0xFF, 0xFF, 0xA0, 0x00, 0x06, 0xFF, 0xF0}},
        {0x05041445, {0x00, 0x10, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x05042485, {'d', 'e', 'g', 0, 0, 0, 0, 0}},
        {0x050424C5, {0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08}}},
       QUOR_DI_OKAY,
       kCandialDegrees + kToClearStickyFaults},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, IoBoard) {
  const _Device cantap = MakeDevice(0x0304FC06, "CANtap", "CANtap (Device ID 6)", 21, 0);
  const _Device oldCantap = MakeDevice(0x0304FC06, "CANtap", "CANtap (Device ID 6)", 3, 1);
  const Case cases[] = {
      {"every frame",
       cantap,
       {{0x03041406, {0xFF, 0xE0, 0x00, 0x01, 0x00, 0x55, 0x00, 0x00}},
        {0x03041446, {0x00, 0x00, 0x64, 0xFF, 0xFE, 0x04, 0x41, 0x08}},
        {0x03041486, {0x00, 0x00, 0x00, 0x01, 0xE8, 0x40, 0x00, 0x20}},
        {0x030414C6, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0x03041506, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0x03041546, {0, 0, 0, 0, 0, 0, 0, 0}}},
       QUOR_DI_OKAY,
       CantapEveryFrame() + kToClearStickyFaults},
      {"only the first general frame, old firmware",
       oldCantap,
       {{0x03041406, {0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}}},
       QUOR_DI_NormalModeMsgNotPresent,
       kCantapFirstFrameOnly + NoFramesText("CANtap (Device ID 6)")},
  };
  for (const Case& c : cases) Check(c);
}
