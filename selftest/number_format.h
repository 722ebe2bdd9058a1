#pragma once
// Fixed-point number texts of the self-test reports. FloatToStr pads a number on the left by
// its magnitude (none from 1000, one space from 100, two from 10, three below), so columns of
// values line up; `trim` takes the padding off where a report wants the bare number.
//
// Values the plain design could not print come out readable: a negative value gets a minus
// sign after the padding (as FloatToStr_Signed), values beyond 32 bits print in full, and a
// value that is not finite prints as "nan", "inf" or "-inf" without padding.
#include <cstdint>
#include <string>

namespace quor::tessera::diagnostics {

// raw = low | (high << (shift mod 32)); value = raw * scale + offset, rounded half up to
// `decimals` places (0..6).
std::string FloatToStr(uint32_t high, uint32_t shift, uint32_t low, double scale, double offset,
                       int decimals);
std::string FloatToStr(uint32_t raw, double scale, int decimals);

// As FloatToStr of |value| * scale + offset, with "-" between padding and digits when value < 0.
std::string FloatToStr_Signed(int32_t value, double scale, double offset, int decimals);

// A current reading: with firmware version (major * 256 + minor) above 280 raw * 0.125 A,
// otherwise raw * 0.067245119 + 1.527114967 A, where readings of 3 or less print " < 1.73".
std::string CurrentToStr(uint32_t high, uint32_t shift, uint32_t low, uint32_t firmwareVersion);
std::string CurrentToStr(uint32_t raw, uint32_t firmwareVersion);

// Fixed notation with exactly `decimals` digits after the point.
std::string Round(double value, int decimals);

// Removes leading and trailing spaces (only ' ').
std::string trim(const std::string& text);

}  // namespace quor::tessera::diagnostics
