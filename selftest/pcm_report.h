#pragma once
// The pneumatics module's self-test report from its two status frames. `firmwareVersion` is
// major * 256 + minor; the voltage and current scalings changed over versions 286 and 294.
#include <cstdint>
#include <ostream>

namespace quor::tessera::diagnostics {

int PCM_SelfTest(const uint8_t* status, const uint8_t* faults, uint32_t firmwareVersion,
                 std::ostream& out);

}  // namespace quor::tessera::diagnostics
