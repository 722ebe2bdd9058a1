#include "config/config2_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quor::tessera::diagnostics::config2;

TEST(Fixed10dot22, SignedRoundsMagnitudeHalfUp) {
  EXPECT_EQ(DoubleTo10dot22_i(1.0), 4194304);
  EXPECT_EQ(DoubleTo10dot22_i(-0.5), -2097152);
  EXPECT_EQ(DoubleTo10dot22_i(std::ldexp(1.0, -23)), 1);
  EXPECT_EQ(DoubleTo10dot22_i(-std::ldexp(1.0, -23)), -1);
  EXPECT_EQ(DoubleTo10dot22<int32_t>(-0.25), -1048576);
}

TEST(Fixed10dot22, UnsignedClampsNegativeToZero) {
  EXPECT_EQ(DoubleTo10dot22_u(-3.0), 0u);
  EXPECT_EQ(DoubleTo10dot22_u(1023.5), 4292870144u);
  EXPECT_EQ(DoubleTo10dot22<uint32_t>(1.0), 4194304u);
}

// Out-of-range gains saturate at the extreme codes instead of wrapping to the opposite sign.
TEST(Fixed10dot22, OutOfRangeSaturates) {
  EXPECT_EQ(DoubleTo10dot22_i(512.0), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(DoubleTo10dot22_i(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(DoubleTo10dot22_i(-512.0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(DoubleTo10dot22_i(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(DoubleTo10dot22_i(511.99999999), 2147483647);  // rounds up onto the limit
  EXPECT_EQ(DoubleTo10dot22_u(1024.0), 0xFFFFFFFFu);
  EXPECT_EQ(DoubleTo10dot22_u(std::numeric_limits<double>::infinity()), 0xFFFFFFFFu);
  EXPECT_EQ(DoubleTo10dot22_u(1024.0 - std::ldexp(1.0, -23)), 0xFFFFFFFFu);
  EXPECT_EQ(DoubleTo10dot22_i(std::nan("")), 0);
}

TEST(Fixed10dot22, ReadBack) {
  EXPECT_DOUBLE_EQ(Fixed10dot22ToDouble_i(static_cast<uint32_t>(-1048576)), -0.25);
  EXPECT_DOUBLE_EQ(Fixed10dot22ToDouble_u(4292870144u), 1023.5);
}

TEST(Throttle, PeakToThrot) {
  EXPECT_EQ(PeakToThrot_i(0.04), 41);
  EXPECT_EQ(PeakToThrot_i(-0.04), -41);
  EXPECT_EQ(PeakToThrot_i(2.0), 1023);
  EXPECT_EQ(PeakToThrot_i(-7.0), -1023);
  EXPECT_EQ(PeakToThrot_u(-0.5), 0u);
  EXPECT_EQ(PeakToThrot_u(0.5), 512u);
  EXPECT_EQ(PeakToThrot_u(3.0), 1023u);
}

TEST(Throttle, ThrotToPeak) {
  EXPECT_DOUBLE_EQ(ThrotToPeak_i(2000), 1.0);
  EXPECT_DOUBLE_EQ(ThrotToPeak_i(-1023), -1.0);
  EXPECT_DOUBLE_EQ(ThrotToPeak_i(-5000), -1.0);
  EXPECT_DOUBLE_EQ(ThrotToPeak_u(512), 512.0 / 1023);
  EXPECT_DOUBLE_EQ(ThrotToPeak_u(0xFFFFFFFF), 1.0);
}

TEST(Ramp, TimeToRamp) {
  EXPECT_EQ(TimeToRamp(1.0), 10u);
  EXPECT_EQ(TimeToRamp(20.0), 1u);
  EXPECT_EQ(TimeToRamp(0.0), 0u);
  EXPECT_EQ(TimeToRamp(-2.0), 0u);
  EXPECT_EQ(TimeToRamp(1e-300), 0xFFFFFFFFu);
}

// 10.23 s / ramp, not cut to whole milliseconds: ramps 1000 to 1023 would all read 10 ms.
TEST(Ramp, RampToTimeIsTheExactQuotient) {
  EXPECT_DOUBLE_EQ(RampToTime(10), 1.023);
  EXPECT_DOUBLE_EQ(RampToTime(0), 0.0);
  EXPECT_DOUBLE_EQ(RampToTime(3), 3.41);
  EXPECT_DOUBLE_EQ(RampToTime(1018), 10.23 / 1018);
  EXPECT_DOUBLE_EQ(RampToTime(TimeToRamp(1.0)), 1.023);  // the nearest time the field holds
}

// The ramp whose time is nearest, which is not always the rounded quotient: 0.98 s lies between
// ramp 10 (1.023 s) and ramp 11 (0.93 s); 10.23 / 0.98 = 10.44 rounds to 10, and 1.023 is nearer.
// 0.976 s: 10.48, yet 0.93 is nearer than 1.023.
TEST(Ramp, TimeToRampTakesTheNearestTime) {
  EXPECT_EQ(TimeToRamp(0.98), 10u);
  EXPECT_EQ(TimeToRamp(0.976), 11u);
  EXPECT_EQ(TimeToRamp(7.6), 2u);   // 5.115 s is nearer than 10.23 s
  EXPECT_EQ(TimeToRamp(7.7), 1u);
}

TEST(Rounding, RoundToIntegers) {
  EXPECT_EQ(roundToInt(2.5), 3);
  EXPECT_EQ(roundToInt(-2.5), -3);
  EXPECT_EQ(roundToInt(-2.4), -2);
  EXPECT_EQ(roundToUInt(2.49), 2u);
  EXPECT_EQ(roundToUInt(2.5), 3u);
}
