#include "config/field_range.h"

#include <cmath>

#include "config/config2_conversions.h"

namespace quor::tessera::diagnostics::config2 {
namespace {

constexpr double kUnsigned32End = 4294967296.0;  // 2^32, exclusive
constexpr double kSigned32End = 2147483648.0;    // 2^31: trunc must stay above -2^31 - 1 and below
constexpr double kUnsigned32Max = 4294967295.0;
constexpr double kSigned32Min = -2147483648.0;
constexpr double kSigned32Max = 2147483647.0;
constexpr double kUnsignedGainEnd = 1024.0;      // 10.22: below 1024 unsigned, 512 signed
constexpr double kSignedGainEnd = 512.0;
// The ramp field holds at least one throttle unit per 10 ms, so no ramp takes longer.
constexpr double kLongestRamp_s = kThrottleFullScale / kRampTicksPerSecond;

bool Between(double value, double low, double high) { return value >= low && value <= high; }
bool FitsUnsigned(double whole) { return whole > -1.0 && whole < kUnsigned32End; }
bool FitsSigned(double whole) {
  return whole > -kSigned32End - 1.0 && whole < kSigned32End;
}

}  // namespace

bool ValueFitsField(const FieldSpec& field, double value) {
  const double scaled = value * field.writeScale / field.writeDivisor;
  switch (field.coding) {
    case FieldCoding::AsIs: {
      const double nearest = std::round(value);  // what an integer key is read as
      return field.kind == JsonKind::UInt ? value >= 0 && FitsUnsigned(nearest) : FitsSigned(nearest);
    }
    case FieldCoding::ScaledUnsigned:
      return Between(scaled, 0.0, kUnsigned32Max);
    case FieldCoding::ScaledSigned:
      return Between(scaled, kSigned32Min, kSigned32Max);
    case FieldCoding::Flag:
    case FieldCoding::InvertedFlag:
      return true;
    case FieldCoding::SignedThrottle:
      return Between(value, -1.0, 1.0);
    case FieldCoding::ForwardPeak:
    case FieldCoding::UnsignedThrottle:
      return Between(value, 0.0, 1.0);
    case FieldCoding::ReversePeak:
      return Between(value, -1.0, 0.0);
    case FieldCoding::Ramp:
      return Between(value, 0.0, kLongestRamp_s);
    case FieldCoding::Fixed10dot22U:
      return value >= 0 && value < kUnsignedGainEnd;
    case FieldCoding::Fixed10dot22S:
      return std::fabs(value) < kSignedGainEnd;
  }
  return false;
}

}  // namespace quor::tessera::diagnostics::config2
