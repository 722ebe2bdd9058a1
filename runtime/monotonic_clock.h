#pragma once
// The one monotonic clock every layer reads: deadlines, time stamps and periods never follow a
// wall-clock jump. Nanoseconds are the base; the coarser readings are cut from the same value.
#include <chrono>
#include <cstdint>

namespace quor::tessera::runtime {

inline int64_t MonotonicNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline int64_t MonotonicMicros() { return MonotonicNanos() / 1000; }

inline int64_t MonotonicMillis() { return MonotonicNanos() / 1000000; }

}  // namespace quor::tessera::runtime
