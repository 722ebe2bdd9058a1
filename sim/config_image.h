#pragma once
// The configuration image a device holds after a factory reset.
#include <cstddef>
#include <cstdint>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

// Writes the family's default image into `buffer` and returns its length: 0 for families
// without readable configuration, or when the image does not fit `capacity`.
size_t FillDefaultConfigImage(DeviceFamily family, uint8_t* buffer, size_t capacity);

}  // namespace quor::tessera::sim
