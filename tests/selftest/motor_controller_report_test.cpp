// Whole self-test texts of motor controllers built from hand-made status frames. Every
// expected text is written out from the report's rules, line by line (some lines end in
// spaces that belong to the text).
#include <gtest/gtest.h>

#include "config/image_fields.h"
#include "device/error_codes.h"
#include "listed_frame_source.h"

using namespace selftest_test;
using quor::tessera::diagnostics::config2::WriteImageField;

namespace {

const std::string kClosing = "\n\"Light Device LED\" clears sticky faults.\n";

// Kestrel KX 1, enabled, driving forward at 512/1023 on a 12 V bus, every brushed frame.
const std::vector<TestFrame> kKxDriving = {
    {0x020401C1, {0x00, 0x00, 0x00, 0x42, 0x00, 0x40, 0x20, 0x13}},
    {0x02041441, {0x00, 0x03, 0xE8, 0xFF, 0xE7, 0x0A, 0x00, 0x00}},
    {0x02041481, {0x00, 0x10, 0x00, 0x00, 0x0C, 0x00, 0x05, 0xC3}},
    {0x020414C1, {0xA0, 0x20, 0x00, 0x02, 0x00, 0xFF, 0xFD, 0x14}},
    {0x020415C1, {0x00, 0x00, 0x64, 0x01, 0xE8, 0x40, 0x01, 0x00}},
    {0x02041601, {0x52, 0x18, 0x07, 0x0A, 0x00, 0x00, 0x00, 0x00}},
    {0x02041641, {0x00, 0x07, 0xD0, 0x00, 0x32, 0x40, 0x00, 0x04}},
    {0x02041681, {0x00, 0x02, 0x27, 0x10, 0x00, 0x00, 0x00, 0x03}},
    {0x020416C1, {0xFF, 0xFF, 0xFB, 0x00, 0x00, 0x02, 0x00, 0x20}},
    {0x02041701, {0xFF, 0xFF, 0xF6, 0x00, 0x01, 0x2C, 0x00, 0x04}},
    {0x02041741, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {0x02041C01, {0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00}},
};

const char* const kKxDrivingText = R"(Device enabled
Motor Type: Brushed
Mode:0:PercentOutput | Output:50.05% [6.01 V]
Motor Leads: M+: 6.01 V  M-: 0 V
Brake during neutral
VCompEn:T CurrLimited:F

PID0 (primary)
  Feedback: Quad/MagEnc(rel)
  Pos: 1000u   |   Vel: -25u/100ms
  Slot Select: 1
  Err: -10 u   |   iacc: 300 u-ms   |   derr: 4 u/ms

PID1 (aux)
  Feedback: Analog Pot/Enc
  Pos: -5u   |   Vel: 0u/100ms
  Slot Select: 2
  Err: 0 u   |   iacc: 0 u-ms   |   derr: 0 u/ms

Quad/MagEnc(rel)
  Pos: 32768u   |   Vel: 12u/100ms
  Pins: A: 1   |   B: 1   |   Idx: 0   |    IdxEdges:3

Analog: Pos: 512u   |   Vel: -3u/100ms   |   ADC:512   |   1.7 V

PulseWidth/MagEnc(abs)
  Pos: 100u   |   Vel: 10u/100ms
  Period: 999.9 us
  Velocity(if Tachometer): 102406 u/100ms | 60003.00 RPM

Motion Profile Executer: 
  Output: Enabled
  Duration (ms): 10
  IsLast: F
  Buffer is Full: F
  TrajPt Count: 7
  Buffer holds Primary PID points (Aux PID not in use)
  MPE has has underrun at least once during profile

Motion Profile (primary)
  Targets:Pos: 2000u   |   Vel: 50u/100ms
  ArbFeedFwd:50.39%
  Valid:T
  PID Slot:1

Motion Profile (aux)
  Targets:Pos: 0u   |   Vel: 0u/100ms
  ArbFeedFwd:-100.00%
  Valid:F
  PID Slot:3

Rivuduvoz device not plugged in.   Bitrate:1000kbps.   Disconnect Count:3

Limit Switches
  Forward:Closed
  Reverse:Open

Auto Zero Position Feature En: LimF = On   |   QuadIdx = On

I-Supply: 5.00A    |    Bus: 12.00V    |    Temp: 40C

Configurations
  Nominal Output: [-0.10, 0.10]   |   Peak Output: [-1.00, 1.00]

FRC Locked:1
)";

// Old firmware, disabled, full reverse, faults now and sticky; no analog frame and fewer others.
const std::vector<TestFrame> kKxFaulted = {
    {0x020401C1, {0x85, 0x00, 0x00, 0xD4, 0x01, 0xA1, 0x10, 0x80}},
    {0x02041441, {0x12, 0x34, 0x56, 0x80, 0x00, 0xFF, 0xD8, 0x1C}},
    {0x020416C1, {0x00, 0x00, 0x07, 0x00, 0x01, 0x2E, 0x00, 0x00}},
};

const char* const kKxFaultedText = R"(Some frames are missing, make sure latest firmware is flashed.
FIRMWARE MUST BE UPDATED!
Device NOT ENABLED!
Motor Type: Brushed
Mode:1:Pos Closed Loop | Output:-100.00%
Coast during neutral
VCompEn:F CurrLimited:T

PID0 (primary)
  Pos: 9544368u   |   Vel: -262144u/100ms
  Slot Select: 0

PID1 (aux)
  Feedback: No Sensor Selected
  Pos: 7u   |   Vel: 1u/100ms
  Slot Select: 0

Limit Switches
  Forward:Open
  Reverse:Open
  Limit Switch feature has been overridden OFF

        (Fault)         (Now)   (Sticky) 
 Fwd Limit Switch:   1          1
   Fwd Soft Limit:    1          0
      Under Vbat :     0          1
    Reset Dur En :     0          1
       API error :     1          1
Hardware Failure :     1          
      Remote LOS :     1          0  Remote Sensor is missing on the bus.  Check the remote sensor, limit switch, soft limit source.

I-Supply: 127.88A    |    

FRC Locked:0
)";

// Kestrel KF 2 turning in reverse, inverted, with stator-limit and temperature faults.
const std::vector<TestFrame> kKfReverse = {
    {0x020401C2, {0x00, 0x00, 0x00, 0x87, 0x00, 0xC2, 0x00, 0x09}},
    {0x02041442, {0x00, 0x08, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00}},
    {0x020414C2, {0xC8, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {0x02041602, {0x80, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {0x02041642, {0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x7F, 0x00, 0x07}},
    {0x020416C2, {0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x10}},
    {0x02041702, {0x3F, 0xFF, 0xFF, 0xA0, 0x00, 0x05, 0x00, 0x18}},
    {0x02041742, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {0x02041C02, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {0x02041242, {0x00, 0x00, 0x00, 0x00, 0xD2, 0x04, 0x6A, 0xFF}},
    {0x02041282, {0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x01}},
    {0x02042502, {0xFF, 0xFF, 0x00, 0x00, 0x04, 0x01, 0xF9, 0xC0}},
    {0x02042542, {0x02, 0x3F, 0xFB, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

const char* const kKfReverseText = R"(Device enabled
Motor Type: Brushless
Mode:2:Vel Closed Loop | Output:-25.02% [-3.50 V]
Inverted: T  |  Drive Direction:counter-clockwise (negative).
Brake during neutral
VCompEn:F CurrLimited:F

PID0 (primary)
  Feedback: Integrated Sensor
  Pos: 2048u   |   Vel: 100u/100ms
  Slot Select: 0
  Err: -8 u   |   iacc: 5 u-ms   |   derr: 24 u/ms

PID1 (aux)
  Feedback: Virtual
  Pos: 0u   |   Vel: 0u/100ms
  Slot Select: 1
  Err: 0 u   |   iacc: 0 u-ms   |   derr: 0 u/ms

Motion Profile Executer: 
  Output: Disabled
  Duration (ms): 0
  IsLast: F
  Buffer is Full: F
  TrajPt Count: 0
  Buffer holds both Primary and Aux Pts
  MPE currently has underun

Motion Profile (primary)
  Targets:Pos: 80u   |   Vel: -8u/100ms
  ArbFeedFwd:100.00%
  Valid:T
  PID Slot:0

Motion Profile (aux)
  Targets:Pos: 0u   |   Vel: 0u/100ms
  ArbFeedFwd:0.00%
  Valid:F
  PID Slot:0

Limit Switches
  Forward:Open
  Reverse:Closed

Integrated Sensor
  Position:-2048.000 units
  Velocity:256.000 units per 100ms
  Absolute Position (signed):-100.000 units
  On power cycle, sensor position syncs to the "Absolute Position", currently: -100.000 units.
  Units Per Rotation: 2048

           (Fault)         (Now)   (Sticky) 
 Device Temperature Fault:   0          1
        Stator Curr Limit:   1          1

I-Supply: -1.50A   |   I-Stator: 12.34A   |   Bus: 14.00V    |    Device Temp: 35C    |    CPU Temp: -5C

FRC Locked:0
)";

// Harrier HX 3 (device type 1): idle, coasting; no sensor sections, only the bus on the power
// line.
const std::vector<TestFrame> kHxIdle = {
    {0x010401C3, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0x01041443, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0x01041483, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0x010414C3, {0x64, 0, 0, 0, 0, 0, 0, 0x1E}},
};

const char* const kHxIdleText = R"(Device NOT ENABLED!
Motor Type: Brushed
Mode:0:PercentOutput | Output:0.00% [0.00 V]
Motor Leads: M+/M- off
Coast during neutral
VCompEn:F CurrLimited:F

PID0 (primary)
  Feedback: Quad/MagEnc(rel)
  Pos: 0u   |   Vel: 0u/100ms
  Slot Select: 0

PID1 (aux)
  Slot Select: 0

Limit Switches
  Forward:Closed
  Reverse:Closed

Auto Zero Position Feature are disabled

Bus: 9.00V
)";

const char* const kSilentText = R"(Some frames are missing, make sure latest firmware is flashed.

PID0 (primary)

PID1 (aux)


)";

}  // namespace

TEST(MotorControllerReport, WholeTextsForBrushedAndBrushlessStates) {
  _Device kx = MakeDevice(0x0204FC01, "Kestrel KX", "Kestrel KX (Device ID 1)", 20, 1);
  kx.config->length = 356;
  WriteImageField(*kx.config, 0, 2);
  WriteImageField(*kx.config, 32, 1023);                        // peak forward
  WriteImageField(*kx.config, 36, 102);                         // nominal forward
  WriteImageField(*kx.config, 40, static_cast<uint32_t>(-1023));  // peak reverse
  WriteImageField(*kx.config, 44, static_cast<uint32_t>(-102));   // nominal reverse
  const _Device oldKx = MakeDevice(0x0204FC01, "Kestrel KX", "Kestrel KX (Device ID 1)", 19, 255);
  const _Device kf = MakeDevice(0x0204FC02, "Kestrel KF", "Kestrel KF (Device ID 2)", 22, 1);
  const _Device hx = MakeDevice(0x0104FC03, "Harrier HX", "Harrier HX (Device ID 3)", 21, 2);
  struct Case {
    const char* name;
    const _Device& device;
    std::vector<TestFrame> frames;
    std::string text;
  };
  const Case cases[] = {
      {"brushed, driving", kx, kKxDriving, kKxDrivingText},
      {"brushed, faulted", oldKx, kKxFaulted, kKxFaultedText},
      {"brushless, reverse", kf, kKfReverse, kKfReverseText},
      {"type 1, idle", hx, kHxIdle, kHxIdleText},
      {"brushless, silent", kf, {}, kSilentText},
  };
  for (const Case& c : cases) {
    const SelfTestRun run = RunSelfTest(c.device, c.frames);
    EXPECT_EQ(run.code, QUOR_DI_OKAY) << c.name;
    EXPECT_EQ(run.text, c.text + kClosing + Footer()) << c.name;
  }
}
