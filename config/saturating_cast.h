#pragma once
// Truncation of a double toward zero into an integer type without undefined behaviour: values
// beyond the type's range saturate, NaN becomes 0. Configuration values come from uploaded JSON,
// so any double can arrive here.
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace quor::tessera::diagnostics::config2 {

template <typename Integer>
Integer SaturatingTrunc(double value) {
  static_assert(std::is_integral<Integer>::value, "integer target only");
  if (std::isnan(value)) return 0;
  // The bounds are powers of two (or zero), so they are exact as doubles.
  constexpr double kUpperExclusive =
      2.0 * static_cast<double>(std::numeric_limits<Integer>::max() / 2 + 1);
  constexpr double kLower = static_cast<double>(std::numeric_limits<Integer>::min());
  if (value >= kUpperExclusive) return std::numeric_limits<Integer>::max();
  if (value <= kLower) return std::numeric_limits<Integer>::min();
  return static_cast<Integer>(value);
}

}  // namespace quor::tessera::diagnostics::config2
