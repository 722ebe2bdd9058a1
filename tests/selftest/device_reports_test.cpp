// Whole self-test texts of the power-distribution panel, pneumatics module, IMU, CAN encoder
// and I/O board, built from hand-made status frames. Every expected text is written out from
// the reports' rules, line by line (some lines end in spaces that belong to the text).
#include <gtest/gtest.h>

#include "device/error_codes.h"
#include "listed_frame_source.h"

using namespace selftest_test;

namespace {

const std::string kLedClears = "\n\"Light Device LED\" clears sticky faults.\n";
const std::string kLedToClear = "\n\"Light Device LED\" to clear sticky faults.\n";

std::string NoFramesText(const std::string& name) {
  return "\n" + name + " : Didn't receive any status frames.\n" +
         "Make sure device is powered and STATUS LED is not red(blink 1Hz).\n"
         "If STATUS LED is red(blink 1Hz) then CAN is not functioning.\n"
         "Common causes...\n"
         "-Termination Resistor is not enabled in PDP or PDP is not at the end of the chain.\n"
         "-CANH(yellow) or CANL(green) is disconnected.\n"
         "-Device has no firmware.  If STATUS LED is blinking green/orange, it needs to be "
         "field-upgraded.\n";
}

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

const char* const kPdpChannelsText = R"(Channel  0 (A):     0.00
Channel  1 (A):     1.00
Channel  2 (A):    10.00
Channel  3 (A):   127.88
Channel  4 (A):     0.38
Channel  5 (A):    12.50
Channel  6 (A):     0.00
Channel  7 (A):     0.00
Channel  8 (A):     0.00
Channel  9 (A):     0.00
Channel 10 (A):     0.00
Channel 11 (A):     0.00
Channel 12 (A):     2.00
Channel 13 (A):     0.00
Channel 14 (A):     0.00
Channel 15 (A):     0.00
Battery(V) :   12.50
   Temp(C) :   25.08
)";

// Firmware 1.24 (older current and battery scales), sub-zero temperature and faults.
const char* const kPdpOldFaultedText = R"(Channel  0 (A):  < 1.73
Channel  1 (A):     1.80
Channel  2 (A):  < 1.73
Channel  3 (A):  < 1.73
Channel  4 (A):  < 1.73
Channel  5 (A):  < 1.73
Channel  6 (A):  < 1.73
Channel  7 (A):  < 1.73
Channel  8 (A):  < 1.73
Channel  9 (A):  < 1.73
Channel 10 (A):  < 1.73
Channel 11 (A):  < 1.73
Channel 12 (A):  < 1.73
Channel 13 (A):  < 1.73
Channel 14 (A):  < 1.73
Channel 15 (A):  < 1.73
Battery(V) :   11.09
   Temp(C) :   -16.23
FaultHardwareStatus : 1
Current FAULTS : 1000000000000001
FaultTemp : 1
FaultVbat : 0
Current FAULTS : 0000000000000011    (sticky)    
StickyFaultTemp : 1
StickyFaultVbat : 0
)";

const char* const kPdpNoFaultsText = R"(FaultHardwareStatus : 0
Current FAULTS : 0000000000000000
FaultTemp : 0
FaultVbat : 0
Current FAULTS : 0000000000000000    (sticky)    
StickyFaultTemp : 0
StickyFaultVbat : 0
)";

}  // namespace

TEST(DeviceReports, PowerDistributionPanel) {
  const _Device pdp = MakeDevice(0x0804FC00, "PDP", "PDP (Device ID 0)", 1, 40);
  const _Device oldPdp = MakeDevice(0x0804FC00, "PDP", "PDP (Device ID 0)", 1, 24);
  const TestFrame noFaults{0x08041640, {0, 0, 0, 0, 0, 0, 0, 0}};
  const Case cases[] = {
      {"healthy", pdp, {kPdpCurrents1, kPdpCurrents2, kPdpCurrents3, noFaults}, QUOR_DI_OKAY,
       kPdpChannelsText + std::string(kPdpNoFaultsText) + kLedToClear},
      {"old firmware, cold, faulted",
       oldPdp,
       {{0x08041400, {0x00, 0x80, 0x40, 0, 0, 0, 0, 0}},
        kPdpCurrents2,
        {0x08041480, {0, 0, 0, 0, 0, 0, 0xC8, 0x32}},
        {0x08041640, {0x80, 0x01, 0x00, 0x03, 0x58, 0, 0, 0}}},
       QUOR_DI_OKAY,
       kPdpOldFaultedText + kLedToClear},
      {"fourth frame never arrives", pdp, {kPdpCurrents1, kPdpCurrents2, kPdpCurrents3},
       QUOR_DI_NormalModeMsgNotPresent, kPdpChannelsText + NoFramesText("PDP (Device ID 0)")},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, PneumaticsModule) {
  const _Device pcm = MakeDevice(0x0904FC00, "PCM", "PCM (Device ID 0)", 1, 65);
  const _Device oldPcm = MakeDevice(0x0904FC00, "PCM", "PCM (Device ID 0)", 1, 30);
  const TestFrame running{0x09041400, {0x05, 0x41, 0xA0, 0x60, 0x04, 0x04, 0x00, 0x00}};
  const Case cases[] = {
      {"compressing", pcm, {running, {0x09041440, {0, 0, 0, 0, 0, 0, 0, 0}}}, QUOR_DI_OKAY,
       R"(
PCM is enabled.
Compressor is close-looped on sensor
Comp Is On
Pressure is not full

     (Fault)                (Now)    (Sticky)
 Comp Curr Too High  0          0
 Comp Short Circuit    0          0
    Solenoid Fuse        0          0
 Comp Curr Too Low   0          0
     Solen 0                0          
     Solen 1                0          
     Solen 2                0          
     Solen 3                0          
     Solen 4                0          
     Solen 5                0          
     Solen 6                0          
     Solen 7                0          

Solen 0 is ON
Solen 1 is OFF
Solen 2 is ON
Solen 3 is OFF
Solen 4 is OFF
Solen 5 is OFF
Solen 6 is OFF
Solen 7 is OFF

     Battery (V):   12.00
    Solenoid (V):   12.00
Compressor (A):    2.00

"Light Device LED" to clear sticky faults (disables compressor momentarily).
)"},
      {"old firmware, faulted",
       oldPcm,
       {{0x09041400, {0x00, 0xF6, 0xC8, 0x7D, 0x06, 0x45, 0x00, 0x00}},
        {0x09041440, {0x81, 0x10, 0, 0, 0, 0, 0, 0}}},
       QUOR_DI_OKAY,
       R"(
PCM has a hardware issue.
PCM is enabled.
Compressor is close-looped on sensor but a fault was detected.
Comp Is Off
Pressure is full.

     (Fault)                (Now)    (Sticky)
 Comp Curr Too High  1          1
 Comp Short Circuit    0          1
     Most likely the compressor output was shorted
    Solenoid Fuse        0          1
 Comp Curr Too Low   0          1
     Most likely the compressor is not connected. 
     Solen 0                1          
     Solen 1                0          
     Solen 2                0          
     Solen 3                0          
     Solen 4                0          
     Solen 5                0          
     Solen 6                0          
     Solen 7                1          

Solen 0 is OFF
Solen 1 is OFF
Solen 2 is OFF
Solen 3 is OFF
Solen 4 is OFF
Solen 5 is OFF
Solen 6 is OFF
Solen 7 is OFF

     Battery (V):   11.81
    Solenoid (V):   12.39 V
Compressor (A):    2.02

"Light Device LED" to clear sticky faults (disables compressor momentarily).
)"},
      {"one frame only", pcm, {running}, QUOR_DI_NormalModeMsgNotPresent,
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
       R"(Description:Wren is running normally.
Wren State:Ready
Last CAL mode:Magnetometer12Pt
Last CAL err:1

TempC:25.5
UpTime:120 seconds
noMotionBiasCount:3
tempCompensationCount:2
Temperature Calibration exists, Yaw will be temperature compensated.

Yaw:  90.000 '
Pitch:  -45.000 '
Roll:   0.044 '

Compass (continuous):  -11.250 '
Compass (bounded): 348.750 '
Fused heading: 180.000 '
FuseFlags:5
GoodCriteriaCnt:9

Faults:0
StickyFlts:2

Quaternion (w,x,y,z):    1.000000,    0.000000,    -1.000000,    0.000489

Accel Tilt X to Z:  90.00 '
Accel Tilt Y to Z:  -45.00 '
Accel Tilt X to Y:   0.00 '

Gyro: (  10.00,    -5.00,    0.00) dps
Accum Gyro: ( 360.000,  -360.000,    0.044) deg
Mag: ( 100.00,  -100.00, 1000.00) units
Mag Strength:  38.40uT
Accel: (   0.00,    0.00, 16384.00) units

FRC Locked:0
)" + kLedClears},
      {"boot-calibrating on a ribbon cable, old firmware, most frames missing",
       ribbon,
       {{0x02042001, {0xFF, 0x00, 0x0F, 0x05, 0x00, 0x4F, 0x00, 0x00}},
        {0x02041CC1, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00}}},
       QUOR_DI_OKAY,
       R"(FIRMWARE MUST BE UPDATED!
Description:Wren is boot-caling to properly bias accel and gyro.  Do not move Wren.  When finished biasing, calibration mode will start.
Wren State:UserCalibration
Selected CAL mode:Unknown
Current CAL err:-1

TempC:255
UpTime:0 seconds
noMotionBiasCount:0
tempCompensationCount:0
Temperature Calibration Not Present.  Recommendation is to perform Temperature Calibration. 
User Disabled Temperature Compensation.
Mag: (   1.00,    2.00,    3.00) units
Calibration Mode will begin once Gyro/Accel settles
Automatic gyro biasing during no-motion is disabled.
Temperature Compensation for Gyro disabled.

FRC Locked:1
)" + kLedClears},
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
       R"(Integrated Sensor:360.000 rotations
  Position:360.000 rotations
  Velocity:-56.250 rotations per sec
  Absolute Position (unsigned):180.000 rotations
  On power cycle, sensor position resets to zero.

  Magnet Field Strength: Ideal
  Magnet LED is green.

Battery:13.00 V

FRC Locked:1
Robot is enabled:0
)" + kLedToClear},
      {"degrees at half a degree a count, per minute, magnet unknown, old firmware",
       oldCandial,
       {{0x05041405, {0xFF, 0xFF, 0xFF, 0xA0, 0x00, 0x06, 0xFF, 0xF0}},
        {0x05041445, {0x00, 0x10, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x05042485, {'d', 'e', 'g', 0, 0, 0, 0, 0}},
        {0x050424C5, {0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08}}},
       QUOR_DI_OKAY,
       R"(FIRMWARE MUST BE UPDATED!
Integrated Sensor:-1.500 deg
  Position:-1.500 deg
  Velocity:300.000 deg per min
  Absolute Position (signed):-0.500 deg
  On power cycle, sensor position syncs to the "Absolute Position", currently: -0.500 deg.

  Magnet Field strength cannot be determined.


Battery:4.00 V

FRC Locked:0
Robot is enabled:1
)" + kLedToClear},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DeviceReports, IoBoard) {
  const _Device cantap = MakeDevice(0x0304FC06, "CANtap", "CANtap (Device ID 6)", 21, 0);
  const _Device oldCantap = MakeDevice(0x0304FC06, "CANtap", "CANtap (Device ID 6)", 3, 1);
  const std::string idlePwm = R"(  Period: 0.0 us
  Velocity(if Tachometer): 0 u/100ms | 0.00 RPM
  PosEncodedPulse Pos: 0u   |   Vel: 0u/100ms
)";
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
       R"(Battery(V):  12.50

LED Output
A(%):100.0  |  B(%):50.0  |  C(%):0.0

Quad/MagEnc(rel)
Pos: 100u   |   Vel: -2u/100ms
Pin I2C_SCL:1
Pin I2C_SDA:0
Pin LIMF:0
Pin LIMR:0
Pin QuadA:0
Pin QuadB:0
Pin QuadIdx:1
Pin SPI_CLK_PWM0:1
Pin SPI_MOSI_PWM1:0
Pin SPI_MISO_PWM2:0
Pin SPI_CSP_PWM3:0

PWM Input 0
  Period: 999.9 us
  Velocity(if Tachometer): 102406 u/100ms | 60003.00 RPM
  PosEncodedPulse Pos: 0u   |   Vel: 1u/100ms

PWM Input 1
)" + idlePwm + "\nPWM Input 2\n" + idlePwm + "\nPWM Input 3\n" + idlePwm + R"(
ZeroQuadOnIdxPol:1
ZeroQuadOnIdxEn:0

FRC Locked:1
)" + kLedToClear},
      {"only the first general frame, old firmware",
       oldCantap,
       {{0x03041406, {0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}}},
       QUOR_DI_NormalModeMsgNotPresent,
       R"(FIRMWARE MUST BE UPDATED!
Battery(V):   4.00

LED Output
A(%):0.0  |  B(%):0.0  |  C(%):0.0

ZeroQuadOnIdxPol:0
ZeroQuadOnIdxEn:1
)" + NoFramesText("CANtap (Device ID 6)")},
  };
  for (const Case& c : cases) Check(c);
}
