#pragma once
// The device side's reading of the periodic frames: the API values of every status frame a
// family broadcasts, where each scrambled frame carries its scramble mode, and the control and
// enable frames a motor controller obeys. Kept apart from the engine's own tables on purpose.
#include <cstdint>

#include "sim/sim_wire.h"

namespace quor::tessera::sim::wire {

// API value = the ID's bits 6..15 in place (API class and index), device number bits clear.
constexpr uint32_t kApiMask = 0xFFC0;

constexpr uint32_t MakeStatusId(uint32_t deviceType, uint32_t api, uint32_t deviceNumber) {
  return ((deviceType & kDeviceTypeMask) << kDeviceTypeShift) |
         (kManufacturer << kManufacturerShift) | (api & kApiMask) |
         (deviceNumber & kDeviceNumberMask);
}

// Motor controllers (Kestrel KX, Kestrel KF, Harrier HX).
constexpr uint16_t kMotorGeneralApi = 0x01C0;
constexpr uint16_t kMotorFeedbackApi = 0x1440;
constexpr uint16_t kMotorQuadratureApi = 0x1480;
constexpr uint16_t kMotorAnalogTempVbatApi = 0x14C0;
constexpr uint16_t kMotorPulseWidthApi = 0x15C0;
constexpr uint16_t kMotorProfileExecutorApi = 0x1600;
constexpr uint16_t kMotorTargetsPrimaryApi = 0x1640;
constexpr uint16_t kMotorPortApi = 0x1680;
constexpr uint16_t kMotorAuxFeedbackApi = 0x16C0;
constexpr uint16_t kMotorPid0Api = 0x1700;
constexpr uint16_t kMotorPid1Api = 0x1740;
constexpr uint16_t kMotorTargetsAuxApi = 0x1C00;
constexpr uint16_t kMotorCurrentsApi = 0x1240;
constexpr uint16_t kMotorFaultsApi = 0x1280;
constexpr uint16_t kMotorIntegratedSensorApi = 0x2500;
constexpr uint16_t kMotorTemperaturesApi = 0x2540;

// Power-distribution panel and pneumatics module.
constexpr uint16_t kPdpCurrents0Api = 0x1400;
constexpr uint16_t kPdpCurrents1Api = 0x1440;
constexpr uint16_t kPdpCurrents2Api = 0x1480;
constexpr uint16_t kPdpFaultsApi = 0x1640;
constexpr uint16_t kPcmStatusApi = 0x1400;
constexpr uint16_t kPcmFaultsApi = 0x1440;

// IMU: conditioned status N at 0x2000 + (N-1)*0x40, biased status N at 0x1C00 + (N-1)*0x40.
constexpr uint16_t ImuConditionedApi(int n) { return static_cast<uint16_t>(0x2000 + (n - 1) * 0x40); }
constexpr uint16_t ImuBiasedApi(int n) { return static_cast<uint16_t>(0x1C00 + (n - 1) * 0x40); }

// CAN encoder.
constexpr uint16_t kEncoderStatus1Api = 0x1400;
constexpr uint16_t kEncoderStatus2Api = 0x1440;
constexpr uint16_t kEncoderStatus3Api = 0x1480;
constexpr uint16_t kEncoderUnitApi = 0x2480;
constexpr uint16_t kEncoderCoefficientApi = 0x24C0;

// I/O board: frame k (0..5) at 0x1400 + k*0x40; 0 general, 1 general 10 ms, 2..5 PWM inputs.
constexpr uint16_t IoBoardApi(int k) { return static_cast<uint16_t>(0x1400 + k * 0x40); }

// A scrambled frame carries its 2-bit scramble mode in dword1 (d4..d7 little-endian) starting
// at this bit: 0 and 3 plain, 1 short form, 2 long form.
constexpr uint8_t kFirstModeBit = 24;
constexpr uint8_t kLastModeBit = 30;
constexpr uint8_t kModeBitGeneral = 29;
constexpr uint8_t kModeBitQuadrature = 27;
constexpr uint8_t kModeBitHigh = 30;  // analog/temp/vbat, targets, aux feedback
constexpr uint8_t kModeBitLow = 24;   // feedback, pulse width, PID, integrated sensor, others
constexpr uint8_t kScrambleModePlain = 0;
constexpr uint8_t kScrambleModeShort = 1;
constexpr uint8_t kScrambleModeLong = 2;

// Control frame: the motor controller's type and number, API 0x0200, eight bytes.
constexpr uint16_t kControlApi = 0x0200;
constexpr uint8_t kControlFrameLength = 8;
// Enable frame: a robot controller's heartbeat to every device, two bytes; d0 bit 0 set =
// enabled, d1 zero.
constexpr uint16_t kEnableApi = 0x0180;
constexpr uint8_t kEnableFrameLength = 2;
constexpr uint32_t kEnableFrameId =
    MakeStatusId(kBroadcastDeviceType, kEnableApi, kBroadcastDeviceNumber);
static_assert(kEnableFrameId == 0x000401BF, "enable frame ID");
constexpr uint8_t kEnableBit = 0x01;

}  // namespace quor::tessera::sim::wire
