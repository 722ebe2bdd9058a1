#pragma once
// The signals of each motor-controller status frame, decoded into plain records before a report
// reads them. Positions and velocities keep their raw values and ×8 flags.
#include <cstdint>

struct RawPosVel {
  int32_t position;
  int32_t velocity;
  bool position8x;  // the position is to be multiplied by 8
  bool velocity8x;
};

struct MotorGeneralStatus {  // slot 0
  bool hardwareFailure, revLimitSwitchFault, fwdLimitSwitchFault, underVoltage;
  bool resetDuringEnable, sensorOutOfPhase, sensorOverflow, apiError;
  bool revSoftLimit, fwdSoftLimit, revLimitSwitchOpen, fwdLimitSwitchOpen;
  int32_t appliedOutput;  // -1023..1023 full scale
  uint8_t controlMode;
  bool currentLimiting, brakeInNeutral, outputInverted, remoteSensorLost;
  bool voltageCompensation, enabled;
  uint8_t pid0SlotSelect, pid1SlotSelect;
  bool limitSwitchOverriddenOff;
};

struct MotorFeedbackStatus {  // slot 1
  RawPosVel pid0;
  uint32_t supplyCurrentRaw;  // 10 bits of 0.125 A (brushed)
  bool stickyRevSoftLimit, stickyFwdSoftLimit, stickyRevLimitSwitch, stickyFwdLimitSwitch;
  bool stickyUnderVoltage, stickyRemoteSensorLost, stickyResetDuringEnable;
  bool stickySensorOutOfPhase, stickySensorOverflow;
};

struct MotorQuadStatus {  // slot 2
  RawPosVel quad;
  bool autoZeroOnIndex;
  uint8_t indexEdges;
  bool indexPin, pinB, pinA;
};

struct MotorAnalogStatus {  // slot 3
  uint8_t busVoltageRaw;    // volts = raw * 0.05 + 4
  uint8_t pid0Sensor;
  bool autoZeroOnReverseLimit, autoZeroOnForwardLimit;
  RawPosVel analog;
  uint32_t adc;              // low 10 bits of the analog position
  uint8_t temperatureField;  // degrees C / 2
  double BusVoltage() const;
};

struct MotorPulseWidthStatus {  // slot 4
  RawPosVel pulse;
  uint32_t period;  // units of 0.256 us
};

struct MotorProfileExecutorStatus {  // slot 5
  uint8_t primaryPidSlot;
  bool isLast;
  uint8_t outputState;  // 0 disabled, 1 enabled, 2 hold
  bool hasUnderrunOnce, underrunNow, holdsPrimaryAndAux;
  uint8_t auxPidSlot;
  bool bufferFull;
  uint8_t pointCount;
  uint8_t duration_ms;
};

struct MotorTargetsStatus {  // slots 6 and 11
  RawPosVel target;
  int8_t feedForward;
  bool valid;
};

struct MotorRivuduvozPortStatus {  // slot 7
  bool pluggedIn;
  uint32_t bitrate_kbps;
  uint8_t disconnectCount;
};

struct MotorAuxFeedbackStatus {  // slot 8
  RawPosVel pid1;
  uint8_t pid1Sensor;
  bool stickyApiError, pidScalingSelector, frcLocked;
};

struct MotorCurrentsStatus {  // slot 12
  double stator_A;
  double supply_A;
};

struct MotorFaultsStatus {  // slot 13: same bit positions in both words
  uint32_t now;
  uint32_t sticky;
};

struct IntegratedSensorStatus {  // slot 14
  int32_t position;
  int32_t velocity;
  uint8_t powerOnBehaviour;  // 0 resets to zero, 1 syncs to the absolute position
  bool absoluteSigned;
  int32_t absolutePosition;
};

struct MotorTemperaturesStatus {  // slot 15
  int32_t device_C;
  int32_t cpu_C;
};

MotorGeneralStatus DecodeMotorGeneral(const uint8_t* d);
MotorFeedbackStatus DecodeMotorFeedback(const uint8_t* d);
MotorQuadStatus DecodeMotorQuad(const uint8_t* d);
MotorAnalogStatus DecodeMotorAnalog(const uint8_t* d);
MotorPulseWidthStatus DecodeMotorPulseWidth(const uint8_t* d);
MotorProfileExecutorStatus DecodeMotorProfileExecutor(const uint8_t* d);
MotorTargetsStatus DecodeMotorTargets(const uint8_t* d);
MotorRivuduvozPortStatus DecodeMotorRivuduvozPort(const uint8_t* d);
MotorAuxFeedbackStatus DecodeMotorAuxFeedback(const uint8_t* d);
MotorCurrentsStatus DecodeMotorCurrents(const uint8_t* d);
MotorFaultsStatus DecodeMotorFaults(const uint8_t* d);
IntegratedSensorStatus DecodeMotorIntegratedSensor(const uint8_t* d);
MotorTemperaturesStatus DecodeMotorTemperatures(const uint8_t* d);

// Brushless fault bits of slot 13.
namespace motor_fault_bit {
constexpr uint32_t kStatorCurrentLimit = 1u << 18;
constexpr uint32_t kSupplyCurrentLimit = 1u << 19;
constexpr uint32_t kNeutralBrakeCurrentLimit = 1u << 20;
constexpr uint32_t kRegenBrakeCurrentLimit = 1u << 21;
constexpr uint32_t kCpuTemperature = 1u << 23;
constexpr uint32_t kDeviceTemperature = 1u << 24;
}  // namespace motor_fault_bit

// The PID internals of a PID frame (slot 9 or 10), scaled as the auxiliary-feedback frame's
// selector (slot 8, d7.4) says.
void DecodePIDSignals(const uint8_t* auxFeedback, const uint8_t* pidFrame, int32_t& error,
                      int32_t& derivative, int32_t& integralAccumulator);
