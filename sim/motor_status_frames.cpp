// Status frames of the motor controllers: brushed (Kestrel KX, Harrier HX) and brushless
// (Kestrel KF). Bits are named dN.b = bit b of data byte N.
#include <algorithm>

#include "sim/status_frames.h"
#include "sim/status_frame_fields.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr double kOutputFullScale = 1023.0;
constexpr double kBusVoltsPerUnit = 0.05;
constexpr double kBusVoltsOffset = 4.0;
constexpr double kTemperatureStep_C = 2.0;
constexpr double kSupplyAmpsPerUnit = 0.125;
constexpr double kCurrentAmpsPerUnit = 0.01;
constexpr int32_t kMaxUnsigned10 = 1023;
constexpr int32_t kMaxTemperatureUnits = 63;
constexpr int32_t kMaxPortBitrate = 0xFFFF;
constexpr int32_t kPortBitrateUnitsPerKbps = 10;
constexpr uint8_t kPortPluggedInCode = 5;
constexpr int32_t kMaxByte = 255;  // an unsigned byte field

// Feedback-sensor codes whose readings a controller can report as a PID loop's position.
constexpr int32_t kSensorQuadrature = 0;
constexpr int32_t kSensorIntegrated = 1;
constexpr int32_t kSensorAnalog = 2;
constexpr int32_t kSensorPulseWidth = 8;

struct Reading {
  int32_t position;
  int32_t velocity;
};

Reading SensorReading(const MotorControllerState& m, int32_t code) {
  switch (code) {
    case kSensorQuadrature:
      return {m.quadPosition, m.quadVelocity};
    case kSensorIntegrated:
      return {m.integratedPosition, m.integratedVelocity};
    case kSensorAnalog:
      return {m.analogPosition, m.analogVelocity};
    case kSensorPulseWidth:
      return {m.pulsePosition, m.pulseVelocity};
    default:
      return {0, 0};
  }
}

bool Has(uint32_t word, uint32_t fault) { return (word & fault) != 0; }

bool PackGeneral(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  const uint32_t now = m.faults;
  const MotorFault d0Faults[] = {kFaultHardwareFailure,   kFaultReverseLimitSwitch,
                                 kFaultForwardLimitSwitch, kFaultUnderVoltage,
                                 kFaultResetDuringEnable,  kFaultSensorOutOfPhase,
                                 kFaultSensorOverflow,     kFaultApiError};
  for (int bit = 0; bit < 8; ++bit) PutFlag(d[0], bit, Has(now, d0Faults[bit]));
  const auto output = static_cast<uint32_t>(
      ToUnits(m.output * kOutputFullScale, 1.0, -kMaxUnsigned10, kMaxUnsigned10));
  PutStreamBits(d, 29, 11, output);  // d3 bits 2-0, d4
  PutFlag(d[3], 3, Has(now, kFaultReverseSoftLimit));
  PutFlag(d[3], 4, Has(now, kFaultForwardSoftLimit));
  PutFlag(d[3], 6, m.reverseLimitOpen);
  PutFlag(d[3], 7, m.forwardLimitOpen);
  PutBits(d[5], 0, 4, static_cast<uint32_t>(m.controlMode));
  PutFlag(d[5], 5, m.currentLimiting);
  PutFlag(d[5], 6, m.brakeInNeutral);
  PutFlag(d[5], 7, m.outputInverted);
  PutFlag(d[6], 4, Has(now, kFaultRemoteSensorLost));
  PutFlag(d[6], 5, m.voltageCompensation);
  PutFlag(d[7], 0, m.enabled || m.enabledByFrames);
  PutBits(d[7], 1, 2, static_cast<uint32_t>(m.pidSlotSelect[0]));
  PutBits(d[7], 3, 2, static_cast<uint32_t>(m.pidSlotSelect[1]));
  PutFlag(d[7], 7, m.limitSwitchOverriddenOff);
  return true;
}

bool PackFeedback(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  const Reading pid0 = SensorReading(m, m.feedbackSensor[0]);
  const Times8Flags x8 = PutPositionVelocity(d, 0, pid0.position, pid0.velocity);
  const auto supply =
      static_cast<uint32_t>(ToUnits(m.supplyCurrent_A, kSupplyAmpsPerUnit, 0, kMaxUnsigned10));
  PutStreamBits(d, 40, 10, supply);  // d5, d6 bits 7-6
  const uint32_t sticky = m.stickyFaults;
  PutFlag(d[6], 0, Has(sticky, kFaultReverseSoftLimit));
  PutFlag(d[6], 1, Has(sticky, kFaultForwardSoftLimit));
  PutFlag(d[6], 2, Has(sticky, kFaultReverseLimitSwitch));
  PutFlag(d[6], 3, Has(sticky, kFaultForwardLimitSwitch));
  PutFlag(d[6], 4, Has(sticky, kFaultUnderVoltage));
  PutFlag(d[6], 5, Has(sticky, kFaultRemoteSensorLost));
  PutFlag(d[7], 2, Has(sticky, kFaultResetDuringEnable));
  PutFlag(d[7], 3, x8.velocity);
  PutFlag(d[7], 4, x8.position);
  PutFlag(d[7], 5, Has(sticky, kFaultSensorOutOfPhase));
  PutFlag(d[7], 6, Has(sticky, kFaultSensorOverflow));
  return true;
}

bool PackQuadrature(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  const Times8Flags x8 = PutPositionVelocity(d, 0, m.quadPosition, m.quadVelocity);
  PutFlag(d[6], 0, m.autoZeroOnIndex);
  PutFlag(d[6], 1, x8.velocity);
  PutFlag(d[6], 2, x8.position);
  PutBits(d[7], 0, 2, static_cast<uint32_t>(m.quadIndexEdges));
  PutFlag(d[7], 5, m.quadPinIndex);
  PutFlag(d[7], 6, m.quadPinB);
  PutFlag(d[7], 7, m.quadPinA);
  return true;
}

bool PackAnalogTempVbat(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  d[0] = static_cast<uint8_t>(
      ToUnits(m.busVoltage_V, kBusVoltsPerUnit, kBusVoltsOffset, 0, kMaxByte));
  PutBits(d[1], 0, 4, static_cast<uint32_t>(m.feedbackSensor[0]));
  PutFlag(d[1], 4, m.autoZeroOnReverseLimit);
  PutFlag(d[1], 5, m.autoZeroOnForwardLimit);
  const Times8Flags x8 = PutPositionVelocity(d, 2, m.analogPosition, m.analogVelocity);
  PutFlag(d[1], 6, x8.velocity);
  PutFlag(d[1], 7, x8.position);
  PutBits(d[7], 0, 6,
          static_cast<uint32_t>(
              ToUnits(m.temperature_C, kTemperatureStep_C, 0, kMaxTemperatureUnits)));
  return true;
}

bool PackPulseWidth(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  PutPulseInput(d, m.pulsePosition, m.pulseVelocity, m.pulsePeriod_us);
  return true;
}

bool PackProfileExecutor(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  PutBits(d[0], 1, 2, static_cast<uint32_t>(m.profilePidSlot[0]));
  PutFlag(d[0], 3, m.profileIsLast);
  PutBits(d[0], 4, 2, static_cast<uint32_t>(m.profileOutput));
  PutFlag(d[0], 6, m.profileHasUnderrun);
  PutFlag(d[0], 7, m.profileUnderrunNow);
  PutFlag(d[1], 2, m.profileHoldsBoth);
  PutBits(d[1], 3, 2, static_cast<uint32_t>(m.profilePidSlot[1]));
  PutFlag(d[1], 7, m.profileBufferFull);
  d[2] = SaturateByte(m.profilePointCount);
  d[3] = SaturateByte(m.profilePointDuration_ms);
  return false;
}

void PackTargets(const MotorControllerState& m, int loop, uint8_t* d) {
  const Times8Flags x8 =
      PutPositionVelocity(d, 0, m.targetPosition[loop], m.targetVelocity[loop]);
  d[5] = static_cast<uint8_t>(SaturateSigned(m.targetFeedForward[loop], 8));
  PutFlag(d[7], 0, x8.velocity);
  PutFlag(d[7], 1, x8.position);
  PutFlag(d[7], 2, m.targetValid[loop]);
}

bool PackTargetsPrimary(const DeviceAttributes& device, uint8_t* d) {
  PackTargets(device.state.motor, 0, d);
  return true;
}

bool PackTargetsAux(const DeviceAttributes& device, uint8_t* d) {
  PackTargets(device.state.motor, 1, d);
  return true;
}

bool PackPort(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  PutBits(d[1], 0, 4, m.portPluggedIn ? kPortPluggedInCode : 0);
  const int64_t bitrate = int64_t{m.portBitrate_kbps} * kPortBitrateUnitsPerKbps;
  PutBigEndian(d, 2, 2,
               static_cast<uint32_t>(bitrate < 0 ? 0 : std::min<int64_t>(bitrate, kMaxPortBitrate)));
  d[7] = SaturateByte(m.portDisconnects);
  return false;
}

bool PackAuxFeedback(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  const Reading pid1 = SensorReading(m, m.feedbackSensor[1]);
  const Times8Flags x8 = PutPositionVelocity(d, 0, pid1.position, pid1.velocity);
  PutBits(d[5], 0, 4, static_cast<uint32_t>(m.feedbackSensor[1]));
  PutFlag(d[5], 5, Has(m.stickyFaults, kFaultApiError));
  PutFlag(d[5], 6, x8.velocity);
  PutFlag(d[5], 7, x8.position);
  PutFlag(d[7], 4, m.pidFrameScaled);
  PutFlag(d[7], 5, m.frcLocked);
  return true;
}

// Scaled layout: error 22 bits, integral 21 bits, derivative 13 bits, each with a x8 flag in
// d3 bits 5-7. Sent scrambled.
void PackPidScaled(const MotorControllerState& m, int loop, uint8_t* d) {
  const Times8Field error = FitWithTimes8(m.pidError[loop], 22);
  const Times8Field integral = FitWithTimes8(m.pidIntegral[loop], 21);
  const Times8Field derivative = FitWithTimes8(m.pidDerivative[loop], 13);
  PutStreamBits(d, 2, 22, static_cast<uint32_t>(error.value));        // d0 5-0, d1, d2
  PutStreamBits(d, 27, 21, static_cast<uint32_t>(integral.value));    // d3 4-0, d4, d5
  PutStreamBits(d, 48, 13, static_cast<uint32_t>(derivative.value));  // d6, d7 7-3
  PutFlag(d[3], 5, error.times8);
  PutFlag(d[3], 6, integral.times8);
  PutFlag(d[3], 7, derivative.times8);
}

// Plain layout: error and integral 24 bits, derivative 16 bits (d6, d7). The frame goes out
// unscrambled, but readers still look at d7 bits 1-0 as a scramble mode, so the derivative is
// moved by one unit where needed to keep them at 0 or 3 (plain).
void PackPidPlain(const MotorControllerState& m, int loop, uint8_t* d) {
  int32_t derivative = SaturateSigned(m.pidDerivative[loop], 16);
  const int32_t low = derivative & 0x3;
  if (low == wire::kScrambleModeShort) derivative -= 1;
  if (low == wire::kScrambleModeLong) derivative += 1;
  PutBigEndian(d, 0, 3, static_cast<uint32_t>(SaturateSigned(m.pidError[loop], 24)));
  PutBigEndian(d, 3, 3, static_cast<uint32_t>(SaturateSigned(m.pidIntegral[loop], 24)));
  PutBigEndian(d, 6, 2, static_cast<uint32_t>(derivative));
}

bool PackPid(const DeviceAttributes& device, int loop, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  if (m.pidFrameScaled) {
    PackPidScaled(m, loop, d);
  } else {
    PackPidPlain(m, loop, d);
  }
  return m.pidFrameScaled;
}

bool PackPid0(const DeviceAttributes& device, uint8_t* d) { return PackPid(device, 0, d); }
bool PackPid1(const DeviceAttributes& device, uint8_t* d) { return PackPid(device, 1, d); }

bool PackCurrents(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  const auto stator = static_cast<uint16_t>(
      ToUnits(m.statorCurrent_A, kCurrentAmpsPerUnit, INT16_MIN, INT16_MAX));
  const auto supply = static_cast<uint16_t>(
      ToUnits(m.supplyCurrent_A, kCurrentAmpsPerUnit, INT16_MIN, INT16_MAX));
  d[4] = static_cast<uint8_t>(stator & 0xFF);
  d[5] = static_cast<uint8_t>(stator >> 8);
  d[6] = static_cast<uint8_t>(supply & 0xFF);
  d[7] = static_cast<uint8_t>(supply >> 8);
  return false;
}

bool PackBrushlessFaults(const DeviceAttributes& device, uint8_t* d) {
  struct FaultBit {
    MotorFault fault;
    int bit;
  };
  constexpr FaultBit kBits[] = {
      {kFaultStatorCurrentLimit, 18},      {kFaultSupplyCurrentLimit, 19},
      {kFaultNeutralBrakeCurrentLimit, 20}, {kFaultRegenBrakeCurrentLimit, 21},
      {kFaultCpuTemperature, 23},          {kFaultDeviceTemperature, 24}};
  const MotorControllerState& m = device.state.motor;
  for (const FaultBit& f : kBits) {
    PutDwordFlag(d, 0, f.bit, Has(m.faults, f.fault));
    PutDwordFlag(d, 4, f.bit, Has(m.stickyFaults, f.fault));
  }
  return false;
}

bool PackIntegratedSensor(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  PutStreamBits(d, 0, 27, static_cast<uint32_t>(SaturateSigned(m.integratedPosition, 27)));
  PutStreamBits(d, 27, 19, static_cast<uint32_t>(SaturateSigned(m.integratedVelocity, 19)));
  PutBits(d[5], 0, 2, static_cast<uint32_t>(m.powerOnBehaviour));
  PutFlag(d[6], 7, m.absoluteSigned);
  PutStreamBits(d, 49, 11, static_cast<uint32_t>(m.absolutePosition));  // d6 6-0, d7 7-4
  return true;
}

bool PackTemperatures(const DeviceAttributes& device, uint8_t* d) {
  const MotorControllerState& m = device.state.motor;
  constexpr int32_t kMax12 = (1 << 11) - 1;
  PutStreamBits(d, 0, 12,
                static_cast<uint32_t>(ToUnits(m.temperature_C, 1.0, -kMax12 - 1, kMax12)));
  PutStreamBits(d, 12, 12,
                static_cast<uint32_t>(ToUnits(m.cpuTemperature_C, 1.0, -kMax12 - 1, kMax12)));
  return false;
}

using wire::kModeBitGeneral;
using wire::kModeBitHigh;
using wire::kModeBitLow;
using wire::kModeBitQuadrature;
constexpr ScrambleRoutine kM = ScrambleRoutine::kMotorController;
constexpr ScrambleRoutine kPlain = ScrambleRoutine::kNone;

// clang-format off
constexpr StatusFrameType kBrushed[] = {
  // API, period ms, packer, scrambling, mode field
  {wire::kMotorGeneralApi,          10,  PackGeneral,          kM,     kModeBitGeneral},
  {wire::kMotorFeedbackApi,         20,  PackFeedback,         kM,     kModeBitLow},
  {wire::kMotorQuadratureApi,       150, PackQuadrature,       kM,     kModeBitQuadrature},
  {wire::kMotorAnalogTempVbatApi,   150, PackAnalogTempVbat,   kM,     kModeBitHigh},
  {wire::kMotorPulseWidthApi,       150, PackPulseWidth,       kM,     kModeBitLow},
  {wire::kMotorProfileExecutorApi,  100, PackProfileExecutor,  kPlain, 0},
  {wire::kMotorTargetsPrimaryApi,   100, PackTargetsPrimary,   kM,     kModeBitHigh},
  {wire::kMotorPortApi,             100, PackPort,             kPlain, 0},
  {wire::kMotorAuxFeedbackApi,      160, PackAuxFeedback,      kM,     kModeBitHigh},
  {wire::kMotorPid0Api,             100, PackPid0,             kM,     kModeBitLow},
  {wire::kMotorPid1Api,             100, PackPid1,             kM,     kModeBitLow},
  {wire::kMotorTargetsAuxApi,       100, PackTargetsAux,       kM,     kModeBitHigh},
};

// Brushless controllers have no quadrature, pulse-width or ribbon-cable port frames; they add
// currents, faults, the integrated sensor and temperatures.
constexpr StatusFrameType kBrushless[] = {
  {wire::kMotorGeneralApi,          10,  PackGeneral,          kM,     kModeBitGeneral},
  {wire::kMotorFeedbackApi,         20,  PackFeedback,         kM,     kModeBitLow},
  {wire::kMotorAnalogTempVbatApi,   150, PackAnalogTempVbat,   kM,     kModeBitHigh},
  {wire::kMotorProfileExecutorApi,  100, PackProfileExecutor,  kPlain, 0},
  {wire::kMotorTargetsPrimaryApi,   100, PackTargetsPrimary,   kM,     kModeBitHigh},
  {wire::kMotorAuxFeedbackApi,      160, PackAuxFeedback,      kM,     kModeBitHigh},
  {wire::kMotorPid0Api,             100, PackPid0,             kM,     kModeBitLow},
  {wire::kMotorPid1Api,             100, PackPid1,             kM,     kModeBitLow},
  {wire::kMotorTargetsAuxApi,       100, PackTargetsAux,       kM,     kModeBitHigh},
  {wire::kMotorCurrentsApi,         20,  PackCurrents,         kPlain, 0},
  {wire::kMotorFaultsApi,           100, PackBrushlessFaults,  kPlain, 0},
  {wire::kMotorIntegratedSensorApi, 20,  PackIntegratedSensor, kM,     kModeBitLow},
  {wire::kMotorTemperaturesApi,     100, PackTemperatures,     kPlain, 0},
};
// clang-format on

}  // namespace

StatusFrameTable BrushedMotorStatusFrames() {
  return {kBrushed, sizeof kBrushed / sizeof kBrushed[0]};
}

StatusFrameTable BrushlessMotorStatusFrames() {
  return {kBrushless, sizeof kBrushless / sizeof kBrushless[0]};
}

}  // namespace quor::tessera::sim
