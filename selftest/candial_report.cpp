#include "selftest/candial_report.h"

#include <cmath>
#include <string>

#include "config/unit_strings.h"
#include "device/error_codes.h"
#include "selftest/bit_join.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"

namespace quor::tessera::diagnostics {

namespace {

namespace units = quor::tessera::core::units_util::diag;

constexpr uint32_t kOldestSupportedFirmware = 0x1400;
constexpr uint32_t kUnitTextWidth = 8;
constexpr double kCountsPerCoefficientUnit = 134217728.0;  // coefficient is in 2^-27 units
constexpr double kBatteryVoltsPerUnit = 0.05;
constexpr double kBatteryVoltsOffset = 4.0;

// Without its unit frames the encoder reports in degrees: 0.087890625 is 360/4096, the degrees
// in one count of its 4096-count turn. Called "rotations", one turn read as 360 rotations.
struct Units {
  std::string text = "degrees";
  double perCount = 0.087890625;
  int32_t timeBaseCode = 1;
};

// The unit frames as the encoder sends them; the text is cut to whole UTF-8 characters so a
// stray byte from the device never reaches the JSON answer as a replacement character.
Units UnitsOf(const _CANdialFrames_t& f) {
  Units u;
  if (!f.unitString || !f.unitCoefficient) return u;
  std::string stored(reinterpret_cast<const char*>(f.unitString), kUnitTextWidth);
  stored.resize(stored.find('\0') == std::string::npos ? kUnitTextWidth : stored.find('\0'));
  u.text = units::trimUtf8(units::DecompileUnitString(stored, kUnitTextWidth), 64);
  const uint8_t* d = f.unitCoefficient;
  u.perCount = Decode_ToUInt32<8, 8, 8, 5>(d[0], d[1], d[2], d[3] >> 3) / kCountsPerCoefficientUnit;
  u.timeBaseCode = (d[7] >> 2) & 0x3;
  return u;
}

struct EncoderStatus {
  int32_t position, velocity, absolutePosition;
  bool absoluteSigned;
  uint8_t batteryRaw, powerOnBehaviour, magnetHealth;
  int frcLocked, robotEnabled;
};

EncoderStatus Decode(const uint8_t* s1, const uint8_t* s2) {
  EncoderStatus e{};
  e.position = Decode_ToInt32<8, 8, 8, 3>(s1[0], s1[1], s1[2], s1[3] >> 5);
  e.velocity = Decode_ToInt32<5, 8, 6>(s1[3] & 0x1F, s1[4], s1[5] >> 2);
  e.absoluteSigned = (s1[5] >> 1) & 1;
  e.absolutePosition = e.absoluteSigned
                           ? Decode_ToInt32<8, 4>(s1[6], s1[7] >> 4)
                           : static_cast<int32_t>(Decode_ToUInt32<8, 4>(s1[6], s1[7] >> 4));
  e.batteryRaw = s2[0];
  e.powerOnBehaviour = (s2[1] >> 4) & 0x3;
  e.magnetHealth = (s2[1] >> 6) & 0x3;
  e.frcLocked = (s2[2] >> 5) & 1;
  e.robotEnabled = (s2[2] >> 7) & 1;
  return e;
}

}  // namespace

int CANdial_SelfTest(const _CANdialFrames_t& frames, const _Device& device, std::ostream& out) {
  WriteFirmwareWarning(device, kOldestSupportedFirmware, out);
  if (!frames.status1 || !frames.status2) return QUOR_DI_OKAY;
  const Units u = UnitsOf(frames);
  std::string velocitySuffix;
  const double velocityScalar = units::GetVelScalar(u.timeBaseCode, velocitySuffix);
  const EncoderStatus e = Decode(frames.status1, frames.status2);
  const IntegratedSensorTexts texts{
      Round(e.position * u.perCount, 3) + " " + u.text,
      Round(e.velocity * velocityScalar * u.perCount, 3) + " " + u.text + " " + velocitySuffix,
      Round(e.absolutePosition * u.perCount, 3) + " " + u.text};
  out << "Integrated Sensor:" << texts.position << "\n";
  FillIntegratedSensorStatus(texts, e.powerOnBehaviour, e.absoluteSigned, e.magnetHealth, true,
                             out);
  out << "\n";
  out << "Battery:" << Round(e.batteryRaw * kBatteryVoltsPerUnit + kBatteryVoltsOffset, 2) << " V"
      << "\n";
  out << "\n";
  out << "FRC Locked:" << e.frcLocked << "\n";
  out << "Robot is enabled:" << e.robotEnabled << "\n";
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
