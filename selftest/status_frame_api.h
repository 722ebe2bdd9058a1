#pragma once
// Where each family's periodic status frames sit: API values (bits 6-15 of the arbitration ID)
// that are OR-ed with a device's type, manufacturer and device number, and the IDs of the
// power-distribution panel's and the pneumatics module's frames without the device number.
#include <cstdint>

#include "device/can_id.h"
#include "device/product_codes.h"

namespace status_frame {

// A device's type and manufacturer bits, which every one of its status frames carries.
constexpr uint32_t FamilyBits(uint32_t arbId) { return can_id::TypeAndManufacturer(arbId); }

// Motor controllers (Kestrel KX, Kestrel KF, Harrier HX), in slot order.
constexpr uint16_t kMotorGeneral = 0x01C0;
constexpr uint16_t kMotorFeedback = 0x1440;
constexpr uint16_t kMotorQuadEncoder = 0x1480;
constexpr uint16_t kMotorAnalogTempVbat = 0x14C0;
constexpr uint16_t kMotorPulseWidth = 0x15C0;
constexpr uint16_t kMotorProfileExecutor = 0x1600;
constexpr uint16_t kMotorTargetsPrimary = 0x1640;
constexpr uint16_t kMotorRivuduvozPort = 0x1680;
constexpr uint16_t kMotorAuxFeedback = 0x16C0;
constexpr uint16_t kMotorPid0 = 0x1700;
constexpr uint16_t kMotorPid1 = 0x1740;
constexpr uint16_t kMotorTargetsAux = 0x1C00;
constexpr uint16_t kMotorCurrents = 0x1240;
constexpr uint16_t kMotorFaults = 0x1280;
constexpr uint16_t kMotorIntegratedSensor = 0x2500;
constexpr uint16_t kMotorTemperatures = 0x2540;

// IMU: conditioned status N at 0x2000 + (N-1)*0x40, biased status N at 0x1C00 + (N-1)*0x40.
constexpr uint16_t ImuConditioned(unsigned n) { return 0x2000 + (n - 1) * 0x40; }
constexpr uint16_t ImuBiased(unsigned n) { return 0x1C00 + (n - 1) * 0x40; }

// I/O board: slot k at 0x1400 + k*0x40 (general frames 0 and 1, PWM inputs 0-3).
constexpr uint16_t IoBoardSlot(unsigned k) { return 0x1400 + k * 0x40; }
constexpr unsigned kIoBoardPwmInputs = 4;

// CAN encoder.
constexpr uint16_t kEncoderStatus1 = 0x1400;
constexpr uint16_t kEncoderStatus2 = 0x1440;
constexpr uint16_t kEncoderStatus3 = 0x1480;
constexpr uint16_t kEncoderUnitString = 0x2480;
constexpr uint16_t kEncoderUnitCoefficient = 0x24C0;

// Power-distribution panel and pneumatics module.
constexpr uint32_t kPdpFamily = can_id::MakeQuor(device_type::kPdp, 0, 0, 0);
constexpr uint32_t kPdpCurrents1 = kPdpFamily | 0x1400;
constexpr uint32_t kPdpCurrents2 = kPdpFamily | 0x1440;
constexpr uint32_t kPdpCurrents3 = kPdpFamily | 0x1480;
constexpr uint32_t kPdpFaults = kPdpFamily | 0x1640;
constexpr uint32_t kPcmFamily = can_id::MakeQuor(device_type::kPcm, 0, 0, 0);
constexpr uint32_t kPcmStatus = kPcmFamily | 0x1400;
constexpr uint32_t kPcmFaults = kPcmFamily | 0x1440;

// The frame's scramble-mode field: two bits of dword1 (d4..d7 little-endian) at this position.
constexpr uint8_t kModeBits24 = 24;
constexpr uint8_t kModeBits27 = 27;
constexpr uint8_t kModeBits29 = 29;
constexpr uint8_t kModeBits30 = 30;

}  // namespace status_frame
