#pragma once
// The CAN magnetic encoder's self-test report.
#include <ostream>

#include "selftest/frame_records.h"

struct _Device;

namespace quor::tessera::diagnostics {

// Without status frames 1 and 2 only the firmware warning is written. Always returns 0.
int CANdial_SelfTest(const _CANdialFrames_t& frames, const _Device& device, std::ostream& out);

}  // namespace quor::tessera::diagnostics
