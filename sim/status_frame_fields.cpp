#include "sim/status_frame_fields.h"

#include <cmath>

namespace quor::tessera::sim::fields {
namespace {

constexpr int kTimes8Shift = 3;
constexpr int kBitsPerByte = 8;
constexpr int kPositionBits = 24;
constexpr int kVelocityBits = 16;
constexpr int kPositionBytes = 3;
constexpr int kVelocityBytes = 2;

}  // namespace

int32_t ToUnits(double value, double unit, int32_t minimum, int32_t maximum) {
  return ToUnits(value, unit, 0.0, minimum, maximum);
}

int32_t ToUnits(double value, double unit, double offset, int32_t minimum, int32_t maximum) {
  const double units = std::round((value - offset) / unit);
  if (std::isnan(units)) return 0;
  if (units <= minimum) return minimum;
  if (units >= maximum) return maximum;
  return static_cast<int32_t>(units);
}

int32_t SaturateSigned(int64_t value, int bits) {
  const int64_t maximum = (int64_t{1} << (bits - 1)) - 1;
  const int64_t minimum = -maximum - 1;
  if (value > maximum) return static_cast<int32_t>(maximum);
  if (value < minimum) return static_cast<int32_t>(minimum);
  return static_cast<int32_t>(value);
}

uint8_t SaturateByte(int64_t value) {
  constexpr int64_t kMaxByte = 0xFF;
  if (value < 0) return 0;
  return static_cast<uint8_t>(value > kMaxByte ? kMaxByte : value);
}

Times8Field FitWithTimes8(int32_t value, int bits) {
  if (SaturateSigned(value, bits) == value) return {value, false};
  return {SaturateSigned(value / (1 << kTimes8Shift), bits), true};
}

void PutBigEndian(uint8_t* data, int first, int bytes, uint32_t value) {
  for (int i = 0; i < bytes; ++i) {
    data[first + i] = static_cast<uint8_t>(value >> (kBitsPerByte * (bytes - 1 - i)));
  }
}

void PutStreamBits(uint8_t* data, int streamBit, int width, uint32_t value) {
  for (int i = 0; i < width; ++i) {
    const int bit = streamBit + i;
    const bool set = ((value >> (width - 1 - i)) & 1u) != 0;
    PutFlag(data[bit / kBitsPerByte], kBitsPerByte - 1 - bit % kBitsPerByte, set);
  }
}

void PutBits(uint8_t& byte, int shift, int width, uint32_t value) {
  const uint32_t mask = ((1u << width) - 1u) << shift;
  byte = static_cast<uint8_t>((byte & ~mask) | ((value << shift) & mask));
}

void PutDwordFlag(uint8_t* data, int first, int bit, bool set) {
  PutFlag(data[first + bit / kBitsPerByte], bit % kBitsPerByte, set);
}

Times8Flags PutPositionVelocity(uint8_t* data, int first, int32_t position, int32_t velocity) {
  const Times8Field p = FitWithTimes8(position, kPositionBits);
  const Times8Field v = FitWithTimes8(velocity, kVelocityBits);
  PutBigEndian(data, first, kPositionBytes, static_cast<uint32_t>(p.value));
  PutBigEndian(data, first + kPositionBytes, kVelocityBytes, static_cast<uint32_t>(v.value));
  return {p.times8, v.times8};
}

void PutPulseInput(uint8_t* data, int32_t position, int32_t velocity, double period_us) {
  constexpr double kPeriodUnit_us = 0.256;
  constexpr int kPeriodBits = 19;
  constexpr int32_t kMaxPeriod = (1 << kPeriodBits) - 1;
  const Times8Field p = FitWithTimes8(position, kPositionBits);
  const Times8Field v = FitWithTimes8(velocity, kVelocityBits);
  PutBigEndian(data, 0, kPositionBytes, static_cast<uint32_t>(p.value));
  PutStreamBits(data, 24, kPeriodBits,
                static_cast<uint32_t>(ToUnits(period_us, kPeriodUnit_us, 0, kMaxPeriod)));
  PutStreamBits(data, 43, kVelocityBits, static_cast<uint32_t>(v.value));
  PutFlag(data[7], 3, v.times8);
  PutFlag(data[7], 4, p.times8);
}

}  // namespace quor::tessera::sim::fields
