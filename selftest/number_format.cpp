#include "selftest/number_format.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace quor::tessera::diagnostics {

namespace {

constexpr int kMaxDecimals = 6;
constexpr uint64_t kPowersOfTen[kMaxDecimals + 1] = {1, 10, 100, 1000, 10000, 100000, 1000000};
// Scaled magnitudes from here on do not fit the 64-bit digit path.
constexpr double kLargestScaled = 1.8e19;

constexpr uint32_t kNewCurrentScaleFirmware = 280;
constexpr double kAmpsPerUnit = 0.125;
constexpr double kOldAmpsPerUnit = 0.067245119;
constexpr double kOldAmpsOffset = 1.527114967;
constexpr uint32_t kOldLargestUnmeasurableRaw = 3;
constexpr int kCurrentDecimals = 2;

int ClampDecimals(int decimals) {
  return decimals < 0 ? 0 : (decimals > kMaxDecimals ? kMaxDecimals : decimals);
}

std::string PaddingFor(uint64_t whole) {
  if (whole >= 1000) return "";
  if (whole >= 100) return " ";
  if (whole >= 10) return "  ";
  return "   ";
}

std::string StreamFixed(double magnitude, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << magnitude;
  return text.str();
}

// `magnitude` (not negative) rounded half up to `decimals` places, padded by its size, with
// `minus` placed between padding and digits. The digits come from the rounded integer, so no
// binary fraction can turn 1.15 into 1.14.
std::string PaddedFixed(double magnitude, int decimals, bool minus) {
  const std::string sign = minus ? "-" : "";
  if (std::isnan(magnitude)) return "nan";
  if (std::isinf(magnitude)) return sign + "inf";
  decimals = ClampDecimals(decimals);
  const double scaled = magnitude * static_cast<double>(kPowersOfTen[decimals]) + 0.5;
  if (scaled >= kLargestScaled) return sign + StreamFixed(magnitude, decimals);
  const uint64_t units = static_cast<uint64_t>(scaled);
  const uint64_t whole = units / kPowersOfTen[decimals];
  std::string text = PaddingFor(whole) + sign + std::to_string(whole);
  if (decimals == 0) return text;
  const std::string fraction = std::to_string(units % kPowersOfTen[decimals]);
  return text + "." + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
}

bool RoundsToZero(double value, int decimals) {
  return std::fabs(value) * static_cast<double>(kPowersOfTen[ClampDecimals(decimals)]) + 0.5 < 1.0;
}

uint32_t JoinRaw(uint32_t high, uint32_t shift, uint32_t low) {
  return low | (high << (shift % 32));
}

}  // namespace

std::string FloatToStr(uint32_t high, uint32_t shift, uint32_t low, double scale, double offset,
                       int decimals) {
  const double value = JoinRaw(high, shift, low) * scale + offset;
  return PaddedFixed(std::fabs(value), decimals, value < 0 && !RoundsToZero(value, decimals));
}

std::string FloatToStr(uint32_t raw, double scale, int decimals) {
  return FloatToStr(0, 0, raw, scale, 0.0, decimals);
}

std::string FloatToStr_Signed(int32_t value, double scale, double offset, int decimals) {
  // |INT32_MIN| fits a double; an offset may carry the result across zero.
  const double result = std::fabs(static_cast<double>(value)) * scale + offset;
  return PaddedFixed(std::fabs(result), decimals, (value < 0) != (result < 0));
}

std::string CurrentToStr(uint32_t high, uint32_t shift, uint32_t low, uint32_t firmwareVersion) {
  const uint32_t raw = JoinRaw(high, shift, low);
  const bool newScale = firmwareVersion > kNewCurrentScaleFirmware;
  if (!newScale && raw <= kOldLargestUnmeasurableRaw) return " < 1.73";
  const double amps = newScale ? raw * kAmpsPerUnit : raw * kOldAmpsPerUnit + kOldAmpsOffset;
  return " " + PaddedFixed(amps, kCurrentDecimals, false);  // never negative
}

std::string CurrentToStr(uint32_t raw, uint32_t firmwareVersion) {
  return CurrentToStr(0, 0, raw, firmwareVersion);
}

std::string Round(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals < 0 ? 0 : decimals) << value;
  return text.str();
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace quor::tessera::diagnostics
