#pragma once
// Test helper: a motor controller's control frame as a server would send it, with the check
// bit worked out by the rule the firmware constants describe (exclusive-or of the bytes
// without the check bit, folded to a nibble, mixed, looked up in the table).
#include <cstdint>
#include <vector>

#include "tests/sim/recording_sink.h"
#include "tests/support/control_check_bit.h"

namespace quor::tessera::sim::testing {

using tessera_test::CheckBitForFolded;

inline CanStreamMessage WithCheckBit(CanStreamMessage frame, bool bit) {
  frame.data[6] = static_cast<uint8_t>((frame.data[6] & ~0x10) | (bit ? 0x10 : 0));
  return frame;
}

// The eight bytes as given (d6 bit 4 clear) with the check bit they call for.
inline CanStreamMessage CheckedControlFrame(uint32_t id, const std::vector<uint8_t>& bytes) {
  CanStreamMessage frame = Frame(id, bytes);
  return WithCheckBit(frame, tessera_test::ExpectedCheckBit(frame.data));
}

// demand0 in d0-d2 (most significant first), the control mode in d5 bits 3-0.
inline CanStreamMessage ControlFrame(uint32_t id, int32_t demand0, uint8_t mode) {
  return CheckedControlFrame(id, {static_cast<uint8_t>(demand0 >> 16),
                                  static_cast<uint8_t>(demand0 >> 8), static_cast<uint8_t>(demand0),
                                  0, 0, mode, 0, 0});
}

}  // namespace quor::tessera::sim::testing
