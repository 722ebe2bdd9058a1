#include "selftest/motor_controller_signals.h"

#include "selftest/bit_join.h"

namespace {

constexpr double kBusVoltsPerUnit = 0.05;
constexpr double kBusVoltsOffset = 4.0;
constexpr double kAmpsPerCentiamp = 0.01;
constexpr uint8_t kPluggedInPortState = 5;
constexpr uint32_t kPortBitrateUnitsPerKbps = 10;
constexpr uint32_t kAdcMask = 0x3FF;

constexpr bool Bit(uint8_t byte, int n) { return ((byte >> n) & 1u) != 0; }
constexpr uint8_t Field(uint8_t byte, int shift, uint8_t mask) {
  return static_cast<uint8_t>((byte >> shift) & mask);
}
constexpr int32_t Signed24(const uint8_t* d) { return Decode_ToInt32<8, 8, 8>(d[0], d[1], d[2]); }
constexpr int32_t Signed16(uint8_t high, uint8_t low) { return Decode_ToInt32<8, 8>(high, low); }
int32_t Times8When(int32_t value, bool flag) { return flag ? value * 8 : value; }

// Position in d0-d2 and velocity in d3-d4, the common layout of most feedback frames.
RawPosVel PosVel24And16(const uint8_t* d, bool position8x, bool velocity8x) {
  return {Signed24(d), Signed16(d[3], d[4]), position8x, velocity8x};
}

}  // namespace

double MotorAnalogStatus::BusVoltage() const {
  return busVoltageRaw * kBusVoltsPerUnit + kBusVoltsOffset;
}

MotorGeneralStatus DecodeMotorGeneral(const uint8_t* d) {
  MotorGeneralStatus s{};
  s.hardwareFailure = Bit(d[0], 0);
  s.revLimitSwitchFault = Bit(d[0], 1);
  s.fwdLimitSwitchFault = Bit(d[0], 2);
  s.underVoltage = Bit(d[0], 3);
  s.resetDuringEnable = Bit(d[0], 4);
  s.sensorOutOfPhase = Bit(d[0], 5);
  s.sensorOverflow = Bit(d[0], 6);
  s.apiError = Bit(d[0], 7);
  s.revSoftLimit = Bit(d[3], 3);
  s.fwdSoftLimit = Bit(d[3], 4);
  s.revLimitSwitchOpen = Bit(d[3], 6);
  s.fwdLimitSwitchOpen = Bit(d[3], 7);
  s.appliedOutput = Decode_ToInt32<3, 8>(d[3], d[4]);
  s.controlMode = Field(d[5], 0, 0x0F);
  s.currentLimiting = Bit(d[5], 5);
  s.brakeInNeutral = Bit(d[5], 6);
  s.outputInverted = Bit(d[5], 7);
  s.remoteSensorLost = Bit(d[6], 4);
  s.voltageCompensation = Bit(d[6], 5);
  s.enabled = Bit(d[7], 0);
  s.pid0SlotSelect = Field(d[7], 1, 0x3);
  s.pid1SlotSelect = Field(d[7], 3, 0x3);
  s.limitSwitchOverriddenOff = Bit(d[7], 7);
  return s;
}

MotorFeedbackStatus DecodeMotorFeedback(const uint8_t* d) {
  MotorFeedbackStatus s{};
  s.pid0 = PosVel24And16(d, Bit(d[7], 4), Bit(d[7], 3));
  s.supplyCurrentRaw = Decode_ToUInt32<8, 2>(d[5], d[6] >> 6);
  s.stickyRevSoftLimit = Bit(d[6], 0);
  s.stickyFwdSoftLimit = Bit(d[6], 1);
  s.stickyRevLimitSwitch = Bit(d[6], 2);
  s.stickyFwdLimitSwitch = Bit(d[6], 3);
  s.stickyUnderVoltage = Bit(d[6], 4);
  s.stickyRemoteSensorLost = Bit(d[6], 5);
  s.stickyResetDuringEnable = Bit(d[7], 2);
  s.stickySensorOutOfPhase = Bit(d[7], 5);
  s.stickySensorOverflow = Bit(d[7], 6);
  return s;
}

MotorQuadStatus DecodeMotorQuad(const uint8_t* d) {
  MotorQuadStatus s{};
  s.quad = PosVel24And16(d, Bit(d[6], 2), Bit(d[6], 1));
  s.autoZeroOnIndex = Bit(d[6], 0);
  s.indexEdges = Field(d[7], 0, 0x3);
  s.indexPin = Bit(d[7], 5);
  s.pinB = Bit(d[7], 6);
  s.pinA = Bit(d[7], 7);
  return s;
}

MotorAnalogStatus DecodeMotorAnalog(const uint8_t* d) {
  MotorAnalogStatus s{};
  s.busVoltageRaw = d[0];
  s.pid0Sensor = Field(d[1], 0, 0x0F);
  s.autoZeroOnReverseLimit = Bit(d[1], 4);
  s.autoZeroOnForwardLimit = Bit(d[1], 5);
  const int32_t position = Signed24(d + 2);
  s.analog = {position, Signed16(d[5], d[6]), Bit(d[1], 7), Bit(d[1], 6)};
  s.adc = static_cast<uint32_t>(position) & kAdcMask;
  s.temperatureField = Field(d[7], 0, 0x3F);
  return s;
}

MotorPulseWidthStatus DecodeMotorPulseWidth(const uint8_t* d) {
  MotorPulseWidthStatus s{};
  s.pulse = {Signed24(d), Decode_ToInt32<5, 8, 3>(d[5] & 0x1F, d[6], d[5] >> 5), Bit(d[7], 4),
             Bit(d[7], 3)};
  s.period = Decode_ToUInt32<8, 8, 3>(d[3], d[4], d[5] >> 5);
  return s;
}

MotorProfileExecutorStatus DecodeMotorProfileExecutor(const uint8_t* d) {
  MotorProfileExecutorStatus s{};
  s.primaryPidSlot = Field(d[0], 1, 0x3);
  s.isLast = Bit(d[0], 3);
  s.outputState = Field(d[0], 4, 0x3);
  s.hasUnderrunOnce = Bit(d[0], 6);
  s.underrunNow = Bit(d[0], 7);
  s.holdsPrimaryAndAux = Bit(d[1], 2);
  s.auxPidSlot = Field(d[1], 3, 0x3);
  s.bufferFull = Bit(d[1], 7);
  s.pointCount = d[2];
  s.duration_ms = d[3];
  return s;
}

MotorTargetsStatus DecodeMotorTargets(const uint8_t* d) {
  MotorTargetsStatus s{};
  s.target = PosVel24And16(d, Bit(d[7], 1), Bit(d[7], 0));
  s.feedForward = static_cast<int8_t>(d[5]);
  s.valid = Bit(d[7], 2);
  return s;
}

MotorRivuduvozPortStatus DecodeMotorRivuduvozPort(const uint8_t* d) {
  MotorRivuduvozPortStatus s{};
  s.pluggedIn = Field(d[1], 0, 0x0F) >= kPluggedInPortState;
  s.bitrate_kbps = ((static_cast<uint32_t>(d[2]) << 8) | d[3]) / kPortBitrateUnitsPerKbps;
  s.disconnectCount = d[7];
  return s;
}

MotorAuxFeedbackStatus DecodeMotorAuxFeedback(const uint8_t* d) {
  MotorAuxFeedbackStatus s{};
  s.pid1 = PosVel24And16(d, Bit(d[5], 7), Bit(d[5], 6));
  s.pid1Sensor = Field(d[5], 0, 0x0F);
  s.stickyApiError = Bit(d[5], 5);
  s.pidScalingSelector = Bit(d[7], 4);
  s.frcLocked = Bit(d[7], 5);
  return s;
}

MotorCurrentsStatus DecodeMotorCurrents(const uint8_t* d) {
  return {Decode_ToInt32<8, 8>(d[5], d[4]) * kAmpsPerCentiamp,
          Decode_ToInt32<8, 8>(d[7], d[6]) * kAmpsPerCentiamp};
}

MotorFaultsStatus DecodeMotorFaults(const uint8_t* d) {
  const uint64_t words = Unwrap64bits(d);
  return {static_cast<uint32_t>(words), static_cast<uint32_t>(words >> 32)};
}

IntegratedSensorStatus DecodeMotorIntegratedSensor(const uint8_t* d) {
  IntegratedSensorStatus s{};
  s.position = Decode_ToInt32<8, 8, 8, 3>(d[0], d[1], d[2], d[3] >> 5);
  s.velocity = Decode_ToInt32<5, 8, 6>(d[3] & 0x1F, d[4], d[5] >> 2);
  s.powerOnBehaviour = Field(d[5], 0, 0x3);
  s.absoluteSigned = Bit(d[6], 7);
  s.absolutePosition = s.absoluteSigned
                           ? Decode_ToInt32<7, 4>(d[6] & 0x7F, d[7] >> 4)
                           : static_cast<int32_t>(Decode_ToUInt32<7, 4>(d[6] & 0x7F, d[7] >> 4));
  return s;
}

MotorTemperaturesStatus DecodeMotorTemperatures(const uint8_t* d) {
  return {Decode_ToInt32<8, 4>(d[0], d[1] >> 4), Decode_ToInt32<4, 8>(d[1] & 0x0F, d[2])};
}

void DecodePIDSignals(const uint8_t* auxFeedback, const uint8_t* d, int32_t& error,
                      int32_t& derivative, int32_t& integralAccumulator) {
  if (!Bit(auxFeedback[7], 4)) {
    error = Signed24(d);
    integralAccumulator = Signed24(d + 3);
    derivative = Signed16(d[6], d[7]);
    return;
  }
  error = Times8When(Decode_ToInt32<6, 8, 8>(d[0], d[1], d[2]), Bit(d[3], 5));
  integralAccumulator = Times8When(Decode_ToInt32<5, 8, 8>(d[3], d[4], d[5]), Bit(d[3], 6));
  derivative = Times8When(Decode_ToInt32<8, 5>(d[6], d[7] >> 3), Bit(d[3], 7));
}
