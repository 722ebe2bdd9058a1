#include "config/config2_conversions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "config/saturating_cast.h"

namespace quor::tessera::diagnostics::config2 {

namespace {

constexpr double kHalfUnitScale = 8388608.0;  // 2^23: the bit just below the last kept bit

// trunc(m * 2^22) + (trunc(m * 2^23) AND 1) for a magnitude m >= 0, in 64 bits; the caller
// saturates to its own range.
uint64_t RoundedFixedMagnitude(double magnitude) {
  const uint64_t kept = SaturatingTrunc<uint64_t>(magnitude * kFixed10dot22Scale);
  const uint64_t halfBit = SaturatingTrunc<uint64_t>(magnitude * kHalfUnitScale) & 1u;
  if (kept == std::numeric_limits<uint64_t>::max()) return kept;  // far out of range already
  return kept + halfBit;
}

}  // namespace

int32_t DoubleTo10dot22_i(double value) {
  if (std::isnan(value)) return 0;
  const uint64_t magnitude = RoundedFixedMagnitude(std::fabs(value));
  if (value < 0) {
    constexpr uint64_t kMostNegative = uint64_t{1} << 31;
    if (magnitude >= kMostNegative) return std::numeric_limits<int32_t>::min();
    return -static_cast<int32_t>(magnitude);
  }
  constexpr uint64_t kMostPositive = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::min(magnitude, kMostPositive));
}

uint32_t DoubleTo10dot22_u(double value) {
  if (std::isnan(value)) return 0;
  const uint64_t magnitude = RoundedFixedMagnitude(std::max(value, 0.0));
  constexpr uint64_t kMost = std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(std::min(magnitude, kMost));
}

double Fixed10dot22ToDouble_i(uint32_t field) {
  return static_cast<double>(static_cast<int32_t>(field)) / kFixed10dot22Scale;
}

double Fixed10dot22ToDouble_u(uint32_t field) {
  return static_cast<double>(field) / kFixed10dot22Scale;
}

int32_t PeakToThrot_i(double fraction) {
  if (std::isnan(fraction)) return 0;
  const double scaled = std::min(std::max(fraction, -1.0), 1.0) * kThrottleFullScale;
  return static_cast<int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

uint32_t PeakToThrot_u(double fraction) {
  if (std::isnan(fraction)) return 0;
  return static_cast<uint32_t>(std::min(std::max(fraction, 0.0), 1.0) * kThrottleFullScale + 0.5);
}

double ThrotToPeak_i(int32_t throttle) {
  return static_cast<double>(std::min(std::max(throttle, -kThrottleFullScale), kThrottleFullScale)) /
         kThrottleFullScale;
}

double ThrotToPeak_u(uint32_t throttle) {
  return static_cast<double>(std::min<uint32_t>(throttle, kThrottleFullScale)) / kThrottleFullScale;
}

uint32_t TimeToRamp(double seconds) {
  if (!(seconds > 0)) return 0;  // also NaN
  // Ramp r takes 10.23 / r seconds. Of the two ramps around 10.23 / t, take the one whose time
  // is nearer to t: the times are not evenly spaced, so rounding the quotient is not enough.
  const double quotient = kThrottleFullScale / (seconds * kRampTicksPerSecond);
  const uint32_t below = std::max<uint32_t>(1, SaturatingTrunc<uint32_t>(quotient));
  if (below == std::numeric_limits<uint32_t>::max()) return below;
  const uint32_t above = below + 1;
  return std::fabs(RampToTime(above) - seconds) < std::fabs(RampToTime(below) - seconds) ? above : below;
}

double RampToTime(double ramp) {
  if (ramp == 0) return 0;
  // The exact quotient: cut to whole milliseconds, ramps above 1000 would share one time and a
  // ramp would not come back from its own time.
  return kThrottleFullScale / (ramp * kRampTicksPerSecond);
}

int64_t roundToInt(double value) {
  return SaturatingTrunc<int64_t>(value < 0 ? value - 0.5 : value + 0.5);
}

uint64_t roundToUInt(double value) { return SaturatingTrunc<uint64_t>(value + 0.5); }

}  // namespace quor::tessera::diagnostics::config2
