#pragma once
// The power-distribution panel's self-test report, one writer per status frame in frame order.
// `firmwareVersion` is major * 256 + minor; several scalings changed after version 280.
#include <cstdint>
#include <ostream>

namespace quor::tessera::diagnostics {

int PDP_SelfTest1(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out);  // ch 0-5
int PDP_SelfTest2(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out);  // ch 6-11
// Channels 12-15, battery voltage and temperature.
int PDP_SelfTest3(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out);
// Fault bits, now and sticky.
int PDP_SelfTest4(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out);

}  // namespace quor::tessera::diagnostics
