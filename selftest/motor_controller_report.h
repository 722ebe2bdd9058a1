#pragma once
// The self-test report of a smart motor controller (Kestrel KX, Harrier HX, Kestrel KF).
#include <ostream>

#include "selftest/frame_records.h"

struct _Device;

namespace quor::tessera::diagnostics {

// Writes the report body from the captured frames; a missing frame only removes its section.
// Always returns 0.
int MotControl_SelfTest(const _MotorControlFrames_t& frames, const _Device& device, bool brushless,
                        std::ostream& out);

}  // namespace quor::tessera::diagnostics
