#pragma once
// Text pieces several self-test reports share.
#include <cstdint>
#include <ostream>
#include <string>

struct _Device;

namespace quor::tessera::diagnostics {

// Firmware version as major * 256 + minor.
uint32_t FirmwareVersion(const _Device& device);
// Writes "FIRMWARE MUST BE UPDATED!" when the device's firmware version is below `oldest`.
void WriteFirmwareWarning(const _Device& device, uint32_t oldest, std::ostream& out);

const char* TF(bool flag);
int Bit01(bool flag);

// "Pos: " + position + "u   |   Vel: " + velocity + "u/100ms", each multiplied by 8 when flagged.
std::string GeneratePosVelString(int32_t position, int32_t velocity, bool position8x,
                                 bool velocity8x);

// "  Period: ... us" and "  Velocity(if Tachometer): ... u/100ms | ... RPM" for a pulse period
// in units of 0.256 us.
void SelfTestPeriodAndTachLines(uint32_t period, std::ostream& out);

// The integrated-sensor lines of the brushless controller and the CAN encoder. Magnet health:
// 0 unknown, 1 red, 2 orange, 3 green; its lines are written only with `magnetLines`.
struct IntegratedSensorTexts {
  std::string position;
  std::string velocity;
  std::string absolutePosition;
};
void FillIntegratedSensorStatus(const IntegratedSensorTexts& texts, uint8_t powerOnBehaviour,
                                bool absoluteSigned, uint8_t magnetHealth, bool magnetLines,
                                std::ostream& out);

}  // namespace quor::tessera::diagnostics
