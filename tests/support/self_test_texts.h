#pragma once
// Self-test texts written out by hand from the reports' rules, for device states that the
// unit tests build as frames and the end-to-end tests set on simulated devices. Motor
// controllers' texts are split around the configuration block, which depends on the image the
// engine read from the device. Some lines end in spaces that belong to the text.
#include <string>

namespace self_test_texts {

const std::string kClearsStickyFaults = "\n\"Light Device LED\" clears sticky faults.\n";
const std::string kToClearStickyFaults = "\n\"Light Device LED\" to clear sticky faults.\n";
const std::string kPcmClosing =
    "\n\"Light Device LED\" to clear sticky faults (disables compressor momentarily).\n";

inline std::string NoFramesText(const std::string& name) {
  return "\n" + name + " : Didn't receive any status frames.\n" +
         "Make sure device is powered and STATUS LED is not red(blink 1Hz).\n"
         "If STATUS LED is red(blink 1Hz) then CAN is not functioning.\n"
         "Common causes...\n"
         "-Termination Resistor is not enabled in PDP or PDP is not at the end of the chain.\n"
         "-CANH(yellow) or CANL(green) is disconnected.\n"
         "-Device has no firmware.  If STATUS LED is blinking green/orange, it needs to be "
         "field-upgraded.\n";
}

inline std::string ConfigurationsText(const char* nominal, const char* peak) {
  return std::string("\nConfigurations\n  Nominal Output: ") + nominal + "   |   Peak Output: " +
         peak + "\n";
}

// Kestrel KX, enabled, driving forward at 512/1023 on a 12 V bus, every brushed frame.
const char* const kKxDrivingBody = R"(Device enabled
Motor Type: Brushed
Mode:0:PercentOutput | Output:50.05% [6.01 V]
Motor Leads: M+: 6.01 V  M-: 0 V
Brake during neutral
VCompEn:T CurrLimited:F

PID0 (primary)
  Feedback: Quad/MagEnc(rel)
  Pos: 32768u   |   Vel: 12u/100ms
  Slot Select: 1
  Err: -10 u   |   iacc: 300 u-ms   |   derr: 4 u/ms

PID1 (aux)
  Feedback: Analog Pot/Enc
  Pos: 512u   |   Vel: -3u/100ms
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
)";

// After its configuration block.
const char* const kKxDrivingTail = R"(
FRC Locked:1
)";

// Old firmware, disabled, full reverse, faults now and sticky; general, feedback and
// auxiliary-feedback frames only.
const char* const kKxFaultedBody = R"(Some frames are missing, make sure latest firmware is flashed.
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
  Pos: 0u   |   Vel: 0u/100ms
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
)";

// After its configuration block.
const char* const kKxFaultedTail = R"(
FRC Locked:0
)";

// Kestrel KF turning in reverse, inverted, with stator-limit and temperature faults; every
// brushless frame.
const char* const kKfReverseBody = R"(Device enabled
Motor Type: Brushless
Mode:2:Vel Closed Loop | Output:-25.02% [-3.50 V]
Inverted: T  |  Drive Direction:counter-clockwise (negative).
Brake during neutral
VCompEn:F CurrLimited:F

PID0 (primary)
  Feedback: Integrated Sensor
  Pos: -2048u   |   Vel: 256u/100ms
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
)";

// After its configuration block.
const char* const kKfReverseTail = R"(
FRC Locked:0
)";

// Harrier HX (device type 1), idle and coasting, general, feedback, quadrature and analog
// frames only: no sensor sections, only the bus on the power line.
const char* const kHxIdleBody = R"(Device NOT ENABLED!
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

// A motor controller that sends nothing.
const char* const kSilentMotorBody = R"(Some frames are missing, make sure latest firmware is flashed.

PID0 (primary)

PID1 (aux)


)";

// PDP firmware 1.40: channels 0-5 read 0, 8, 80, 1023, 3 and 100, channel 12 reads 16;
// battery 170, temperature 90.
const char* const kPdpChannels = R"(Channel  0 (A):     0.00
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

// Its fault frame, all clear.
const char* const kPdpNoFaults = R"(FaultHardwareStatus : 0
Current FAULTS : 0000000000000000
FaultTemp : 0
FaultVbat : 0
Current FAULTS : 0000000000000000    (sticky)    
StickyFaultTemp : 0
StickyFaultVbat : 0
)";

// PDP firmware 1.24 (older current and battery scales), below zero, with faults.
const char* const kPdpOldFaulted = R"(Channel  0 (A):  < 1.73
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

// PCM firmware 1.65, enabled and compressing, solenoids 0 and 2 on.
const char* const kPcmCompressing = R"(
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
)";

// PCM firmware 1.30 with a hardware fault, compressor faults and solenoid faults 0 and 7.
const char* const kPcmOldFaulted = R"(
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
)";

// Wren firmware 20.3 running normally, every frame.
const char* const kWrenRunning = R"(Description:Wren is running normally.
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
)";

// Wren firmware 3.9, boot-calibrating, general and magnetometer frames only.
const char* const kWrenBootCalibrating = R"(FIRMWARE MUST BE UPDATED!
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
)";

// Wren firmware 20.3 on a Kestrel KF's ribbon cable, in magnetometer calibration, every frame
// (they reach the bus through the controller).
const char* const kWrenOnRibbonCalibrating = R"(Description:Magnetometer Level 2 calibration: Spin robot slowly in 360' fashion.  
Wren State:UserCalibration
Selected CAL mode:Magnetometer360
Current CAL err:3

TempC:31.25
UpTime:200 seconds
noMotionBiasCount:1
tempCompensationCount:4
Temperature Calibration Not Present.  Recommendation is to perform Temperature Calibration. 

Yaw:  -45.000 '
Pitch:  22.500 '
Roll:  -11.250 '

Compass (continuous):  -45.000 '
Compass (bounded): 315.000 '
Fused heading:  -90.000 '
FuseFlags:2
GoodCriteriaCnt:3

Faults:1
StickyFlts:4

Quaternion (w,x,y,z):    0.500244,    -0.250122,    0.125061,    -1.000000

Accel Tilt X to Z:  45.00 '
Accel Tilt Y to Z:  -22.50 '
Accel Tilt X to Y:  11.25 '

Gyro: (   2.50,    -5.00,   20.00) dps
Accum Gyro: (  90.000,  -180.000,  720.000) deg
Mag: ( -300.00,  250.00,    5.00) units
Mag Strength:  30.00uT
Accel: (  -16.00,  512.00, 16000.00) units

FRC Locked:1
)";

// CANdial firmware 22.0 without its unit frames, magnet ideal: one turn (4096 counts) at the
// default 0.087890625 per count is 360 degrees.
const char* const kCandialDefaultUnits = R"(Integrated Sensor:360.000 degrees
  Position:360.000 degrees
  Velocity:-56.250 degrees per sec
  Absolute Position (unsigned):180.000 degrees
  On power cycle, sensor position resets to zero.

  Magnet Field Strength: Ideal
  Magnet LED is green.

Battery:13.00 V

FRC Locked:1
Robot is enabled:0
)";

// CANdial firmware 19.0 in degrees at half a degree a count, per minute, magnet unknown.
const char* const kCandialDegrees = R"(FIRMWARE MUST BE UPDATED!
Integrated Sensor:-1.500 deg
  Position:-1.500 deg
  Velocity:300.000 deg per min
  Absolute Position (signed):-0.500 deg
  On power cycle, sensor position syncs to the "Absolute Position", currently: -0.500 deg.

  Magnet Field strength cannot be determined.


Battery:4.00 V

FRC Locked:0
Robot is enabled:1
)";

// CANtap firmware 21.0, every frame; PWM inputs 1-3 idle.
inline std::string CantapEveryFrame() {
  const std::string idlePwm = R"(  Period: 0.0 us
  Velocity(if Tachometer): 0 u/100ms | 0.00 RPM
  PosEncodedPulse Pos: 0u   |   Vel: 0u/100ms
)";
  return R"(Battery(V):  12.50

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
)";
}

// CANtap firmware 3.1 sending only its first general frame (the -124 explanation follows).
const char* const kCantapFirstFrameOnly = R"(FIRMWARE MUST BE UPDATED!
Battery(V):   4.00

LED Output
A(%):0.0  |  B(%):0.0  |  C(%):0.0

ZeroQuadOnIdxPol:0
ZeroQuadOnIdxEn:1
)";

}  // namespace self_test_texts
