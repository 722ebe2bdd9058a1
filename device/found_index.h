#pragma once
#include <cstdint>

// Next value of the process-wide counter that numbers devices in the order the engine first
// sees them: 1, 2, 3, ...; never repeats, whatever thread asks.
uint32_t FoundIndex_Get();
