#pragma once
// What a simulated device's periodic status frames report, in the units its firmware measures
// (volts, amps, degrees, sensor units). Tests (through SimRobot) and device files set it; the
// status frames are packed from it whenever they go out. A motor controller that is being
// driven by control frames writes its motion back into its own part.
//
// One record holds every family's part; a device reads only its own family's.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quor::tessera::sim {

enum class DeviceFamily;  // sim/device_attributes.h, which holds a DeviceState

// Motor-controller faults. A fault's bit is the same in the "now" word and the sticky word;
// hardware failure has no sticky copy on the wire.
enum MotorFault : uint32_t {
  kFaultHardwareFailure = 1u << 0,
  kFaultReverseLimitSwitch = 1u << 1,
  kFaultForwardLimitSwitch = 1u << 2,
  kFaultUnderVoltage = 1u << 3,
  kFaultResetDuringEnable = 1u << 4,
  kFaultSensorOutOfPhase = 1u << 5,
  kFaultSensorOverflow = 1u << 6,
  kFaultApiError = 1u << 7,
  kFaultReverseSoftLimit = 1u << 8,
  kFaultForwardSoftLimit = 1u << 9,
  kFaultRemoteSensorLost = 1u << 10,
  // Brushless controllers only.
  kFaultStatorCurrentLimit = 1u << 11,
  kFaultSupplyCurrentLimit = 1u << 12,
  kFaultNeutralBrakeCurrentLimit = 1u << 13,
  kFaultRegenBrakeCurrentLimit = 1u << 14,
  kFaultCpuTemperature = 1u << 15,
  kFaultDeviceTemperature = 1u << 16,
};

constexpr int kPidLoops = 2;  // index 0 primary (PID0), 1 auxiliary (PID1)

struct MotorControllerState {
  // General state.
  bool enabled = false;          // a robot controller elsewhere on the bus enables it
  bool enabledByFrames = false;  // the enable frame keeps arriving (kept by the device)
  int32_t controlMode = 0;       // 0 percent output, 2 velocity, 15 no drive, ...
  double output = 0.0;           // applied output, -1..1
  bool forwardLimitOpen = true;
  bool reverseLimitOpen = true;
  bool limitSwitchOverriddenOff = false;
  uint32_t faults = 0;  // MotorFault bits, now
  uint32_t stickyFaults = 0;
  bool currentLimiting = false;
  bool brakeInNeutral = true;
  bool outputInverted = false;
  bool voltageCompensation = false;
  bool frcLocked = false;
  std::array<int32_t, kPidLoops> pidSlotSelect{};   // 0..3
  std::array<int32_t, kPidLoops> feedbackSensor{};  // feedback-sensor codes 0..15

  // Sensors, in their own units.
  int32_t quadPosition = 0;
  int32_t quadVelocity = 0;  // units per 100 ms, like every velocity here
  int32_t quadIndexEdges = 0;
  bool quadPinA = false;
  bool quadPinB = false;
  bool quadPinIndex = false;
  int32_t analogPosition = 0;  // low 10 bits are the ADC reading
  int32_t analogVelocity = 0;
  int32_t pulsePosition = 0;
  int32_t pulseVelocity = 0;
  double pulsePeriod_us = 0.0;
  int32_t integratedPosition = 0;
  int32_t integratedVelocity = 0;
  int32_t absolutePosition = 0;  // 0..2047, or -1024..1023 when signed
  bool absoluteSigned = false;
  int32_t powerOnBehaviour = 0;  // 0 position resets to zero, 1 syncs to the absolute position
  bool autoZeroOnIndex = false;
  bool autoZeroOnForwardLimit = false;
  bool autoZeroOnReverseLimit = false;

  // Power.
  double busVoltage_V = 12.0;
  double supplyCurrent_A = 0.0;
  double statorCurrent_A = 0.0;
  double temperature_C = 30.0;
  double cpuTemperature_C = 35.0;

  // Closed-loop internals.
  std::array<int32_t, kPidLoops> pidError{};
  std::array<int32_t, kPidLoops> pidIntegral{};
  std::array<int32_t, kPidLoops> pidDerivative{};
  // The PID frames' scaled layout (sent scrambled); false = the plain 24-bit layout.
  bool pidFrameScaled = true;

  // Motion-profile executor and targets (index 0 primary, 1 aux).
  int32_t profileOutput = 0;  // 0 disabled, 1 enabled, 2 hold
  int32_t profilePointCount = 0;
  int32_t profilePointDuration_ms = 0;
  bool profileIsLast = false;
  bool profileHasUnderrun = false;
  bool profileUnderrunNow = false;
  bool profileBufferFull = false;
  bool profileHoldsBoth = false;
  std::array<int32_t, kPidLoops> profilePidSlot{};
  std::array<int32_t, kPidLoops> targetPosition{};
  std::array<int32_t, kPidLoops> targetVelocity{};
  std::array<int32_t, kPidLoops> targetFeedForward{};  // -128..127
  std::array<bool, kPidLoops> targetValid{};

  // Port for a device on ribbon cable.
  bool portPluggedIn = false;
  int32_t portBitrate_kbps = 0;
  int32_t portDisconnects = 0;

  // Share of the motor's torque the mechanism takes at speed (viscous load, 0..1).
  double load = 0.1;
};

constexpr int kPdpChannels = 16;

struct PdpState {
  std::array<double, kPdpChannels> channelCurrent_A{};
  double batteryVoltage_V = 12.5;
  double temperature_C = 25.0;
  int32_t faultBits = 0;  // 16 bits, now
  int32_t stickyFaultBits = 0;
  bool hardwareFault = false;
  bool temperatureFault = false;
  bool batteryFault = false;
  bool stickyTemperatureFault = false;
  bool stickyBatteryFault = false;
};

enum PcmFault : uint32_t {
  kPcmFaultSolenoidFuse = 1u << 0,
  kPcmFaultCompressorCurrentHigh = 1u << 1,
  kPcmFaultCompressorShort = 1u << 2,
  kPcmFaultCompressorNotConnected = 1u << 3,
};

constexpr int kPcmSolenoids = 8;

struct PcmState {
  int32_t solenoids = 0;       // bit k: solenoid k on
  int32_t solenoidFaults = 0;  // bit k: solenoid k faulted
  bool enabled = false;
  bool compressorOn = false;
  bool closedLoop = true;
  bool pressureFull = false;
  bool hardwareFault = false;
  uint32_t faults = 0;  // PcmFault bits, now
  uint32_t stickyFaults = 0;
  double batteryVoltage_V = 12.5;
  double solenoidVoltage_V = 12.0;
  double compressorCurrent_A = 0.0;
};

struct ImuState {
  int32_t stateCode = 14;  // 14 ready, 15 and 16 user calibration, else initialising
  int32_t calibrationMode = 0;
  // Signed 4-bit. The same nibble carries the temperature-calibration status (bits 0-1) and
  // "compensation disabled by the user" (bit 2), as the firmware's frame does.
  int32_t calibrationError = 0;
  bool bootCalibrating = false;
  bool noMotionBiasingEnabled = true;
  bool frcLocked = false;
  double temperature_C = 30.0;
  int32_t upTime_s = 10;
  int32_t noMotionBiasCount = 0;
  int32_t temperatureCompensationCount = 0;
  double yaw_deg = 0.0;
  double pitch_deg = 0.0;
  double roll_deg = 0.0;
  double compass_deg = 0.0;
  double magneticStrength_uT = 0.0;
  double fusedHeading_deg = 0.0;
  int32_t fusionFlags = 0;
  int32_t goodCriteriaCount = 0;
  int32_t fusionFaults = 0;
  int32_t fusionStickyFaults = 0;
  std::array<double, 4> quaternion{1.0, 0.0, 0.0, 0.0};  // w, x, y, z
  std::array<double, 3> tilt_deg{};                       // X to Z, Y to Z, X to Y
  std::array<double, 3> gyro_dps{};
  std::array<double, 3> accumulatedGyro_deg{};
  std::array<int32_t, 3> magnetometer{};
  std::array<int32_t, 3> accelerometer{};
};

// The encoder keeps its unit text as stored: at most this many bytes (a longer name is kept as
// its short code, "______03" for "rotations").
constexpr size_t kEncoderUnitBytes = 8;

struct EncoderState {
  int32_t position = 0;
  int32_t velocity = 0;
  int32_t absolutePosition = 0;  // 0..4095, or -2048..2047 when signed
  bool absoluteSigned = false;
  double batteryVoltage_V = 12.0;
  int32_t powerOnBehaviour = 0;  // 0 resets to zero, 1 syncs to the absolute position
  int32_t magnetHealth = 3;      // 0 unknown, 1 red, 2 orange, 3 green
  bool frcLocked = false;
  bool robotEnabled = false;
  std::string unit = "______03";
  double coefficient = 1.0 / 4096;  // units per count
  int32_t velocityTimeBase = 1;     // 0 per 100 ms, 1 per second, 2 per minute
};

constexpr int kIoBoardLeds = 3;
constexpr int kIoBoardPwmInputs = 4;

struct IoBoardState {
  std::array<double, kIoBoardLeds> ledDuty_percent{};  // A, B, C
  bool zeroOnIndexPolarity = false;
  bool zeroOnIndexEnabled = false;
  double batteryVoltage_V = 12.0;
  int32_t quadPosition = 0;
  int32_t quadVelocity = 0;
  int32_t pins = 0;  // 11 bits: 10 SPI_CLK_PWM0 .. 0 QuadIdx
  bool frcLocked = false;
  std::array<int32_t, kIoBoardPwmInputs> pwmPosition{};
  std::array<int32_t, kIoBoardPwmInputs> pwmVelocity{};
  std::array<double, kIoBoardPwmInputs> pwmPeriod_us{};
};

// How the status frames go out.
enum class ScramblePolicy {
  kVary,   // modes 0, 1, 2, 3 in turn, frame after frame of each type
  kPlain,  // always mode 0
  kShort,  // always mode 1
  kLong,   // always mode 2 (plain for routines without a long form)
};

struct BroadcastOptions {
  ScramblePolicy scramble = ScramblePolicy::kVary;
  bool omitAll = false;
  std::vector<uint16_t> omittedApis;  // frames an older firmware never sends
};

struct DeviceState {
  MotorControllerState motor;
  PdpState pdp;
  PcmState pcm;
  ImuState imu;
  EncoderState encoder;
  IoBoardState ioBoard;
  BroadcastOptions broadcast;
};

// The state a device of `family` powers up with.
DeviceState DefaultDeviceState(DeviceFamily family);

}  // namespace quor::tessera::sim
