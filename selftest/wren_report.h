#pragma once
// The IMU's self-test report (stand-alone, or on a motor controller's ribbon cable).
#include <ostream>

#include "selftest/frame_records.h"

struct _Device;

namespace quor::tessera::diagnostics {

// A missing frame only removes its section. Always returns 0.
int Wren_SelfTest(const _WrenFrames_t& frames, const _Device& device, std::ostream& out);

}  // namespace quor::tessera::diagnostics
