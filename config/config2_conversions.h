#pragma once
// Value encodings shared by the configuration groups: 10.22 fixed point for gains, throttle
// units (1/1023 of full output) for output fractions, and ramp rates for ramp times.
#include <cstdint>

namespace quor::tessera::diagnostics::config2 {

constexpr double kFixed10dot22Scale = 4194304.0;  // 2^22
constexpr int32_t kThrottleFullScale = 1023;
constexpr double kRampTicksPerSecond = 100.0;  // the ramp field counts 10 ms steps

// Signed 10.22, magnitude rounded half up, sign applied afterwards. Magnitudes of 512 or more
// saturate at the extreme codes instead of wrapping.
int32_t DoubleTo10dot22_i(double value);
// Unsigned 10.22, negative input gives 0; inputs of 1024 or more saturate at 0xFFFFFFFF.
uint32_t DoubleTo10dot22_u(double value);

template <typename T>
T DoubleTo10dot22(double value);
template <>
inline int32_t DoubleTo10dot22<int32_t>(double value) { return DoubleTo10dot22_i(value); }
template <>
inline uint32_t DoubleTo10dot22<uint32_t>(double value) { return DoubleTo10dot22_u(value); }

double Fixed10dot22ToDouble_i(uint32_t field);
double Fixed10dot22ToDouble_u(uint32_t field);

int32_t PeakToThrot_i(double fraction);   // -1023..1023
uint32_t PeakToThrot_u(double fraction);  // 0..1023
double ThrotToPeak_i(int32_t throttle);
double ThrotToPeak_u(uint32_t throttle);

// Throttle units per 10 ms; 0 = no ramp. A positive time gives the ramp (at least 1) whose
// time RampToTime gives is nearest to it, so RampToTime(TimeToRamp(t)) is the nearest time the
// field can hold and TimeToRamp(RampToTime(r)) is r for every ramp r.
uint32_t TimeToRamp(double seconds);
double RampToTime(double ramp);  // seconds from neutral to full output; 0 for no ramp

int64_t roundToInt(double value);
uint64_t roundToUInt(double value);

}  // namespace quor::tessera::diagnostics::config2
