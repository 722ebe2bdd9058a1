#include "selftest/report_helpers.h"

#include <cmath>

#include "device/device_record.h"
#include "selftest/number_format.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr double kMicrosecondsPerPeriodUnit = 0.256;
constexpr double kNanosecondsPerPeriodUnit = 256.0;
constexpr double kUnitsPer100msPerHertz = 102.4;
constexpr double kSecondsPerMinute = 60.0;

enum PowerOnBehaviour : uint8_t { kResetsToZero = 0, kSyncsToAbsolute = 1 };

void WriteMagnetLines(uint8_t magnetHealth, std::ostream& out) {
  switch (magnetHealth) {
    case 1:
      out << "  Magnet Field Strength: Too far/ too close\n"
          << "  Magnet LED is red.\n";
      break;
    case 2:
      out << "  Magnet Field Strength: Adequate (slightly reduced accuracy)\n"
          << "  Magnet LED is orange.\n";
      break;
    case 3:
      out << "  Magnet Field Strength: Ideal\n"
          << "  Magnet LED is green.\n";
      break;
    default:
      out << "  Magnet Field strength cannot be determined.\n"
          << "\n";
      break;
  }
}

}  // namespace

uint32_t FirmwareVersion(const _Device& device) {
  return device.firmwareMajor * 256u + device.firmwareMinor;
}

void WriteFirmwareWarning(const _Device& device, uint32_t oldest, std::ostream& out) {
  if (FirmwareVersion(device) < oldest) out << "FIRMWARE MUST BE UPDATED!\n";
}

const char* TF(bool flag) { return flag ? "T" : "F"; }

int Bit01(bool flag) { return flag ? 1 : 0; }

std::string GeneratePosVelString(int32_t position, int32_t velocity, bool position8x,
                                 bool velocity8x) {
  const int64_t shownPosition = position8x ? int64_t{position} * 8 : position;
  const int64_t shownVelocity = velocity8x ? int64_t{velocity} * 8 : velocity;
  return "Pos: " + std::to_string(shownPosition) + "u   |   Vel: " + std::to_string(shownVelocity) +
         "u/100ms";
}

void SelfTestPeriodAndTachLines(uint32_t period, std::ostream& out) {
  out << "  Period: " << trim(FloatToStr(period, kMicrosecondsPerPeriodUnit, 1)) << " us\n";
  double unitsPer100ms = 0;
  double rpm = 0;
  if (period != 0) {
    const double hertz = 1e9 / (period * kNanosecondsPerPeriodUnit);
    unitsPer100ms = std::floor(hertz * kUnitsPer100msPerHertz);
    rpm = std::floor(hertz * kSecondsPerMinute);
  }
  out << "  Velocity(if Tachometer): " << Round(unitsPer100ms, 0) << " u/100ms | " << Round(rpm, 2)
      << " RPM\n";
}

void FillIntegratedSensorStatus(const IntegratedSensorTexts& texts, uint8_t powerOnBehaviour,
                                bool absoluteSigned, uint8_t magnetHealth, bool magnetLines,
                                std::ostream& out) {
  out << "  Position:" << texts.position << "\n";
  out << "  Velocity:" << texts.velocity << "\n";
  out << "  Absolute Position " << (absoluteSigned ? "(signed)" : "(unsigned)") << ":"
      << texts.absolutePosition << "\n";
  if (powerOnBehaviour == kResetsToZero)
    out << "  On power cycle, sensor position resets to zero.\n";
  if (powerOnBehaviour == kSyncsToAbsolute)
    out << "  On power cycle, sensor position syncs to the \"Absolute Position\", currently: "
        << texts.absolutePosition << ".\n";
  if (!magnetLines) return;
  out << "\n";
  WriteMagnetLines(magnetHealth, out);
}

}  // namespace quor::tessera::diagnostics
