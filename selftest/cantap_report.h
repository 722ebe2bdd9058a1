#pragma once
// The CAN I/O board's self-test report.
#include <ostream>

#include "selftest/frame_records.h"

struct _Device;

namespace quor::tessera::diagnostics {

// Writes everything the received frames allow; returns QUOR_DI_NormalModeMsgNotPresent when
// either general frame (slot 0 or 1) is missing, else 0.
int CANtap_SelfTest(const _CANtapFrames_t& frames, const _Device& device, std::ostream& out);

}  // namespace quor::tessera::diagnostics
