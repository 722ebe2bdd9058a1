#pragma once
// 32-bit little-endian fields of a configuration image. Positions come from the group tables,
// which are all below the largest image length, far inside the fixed 4096-byte data array.
#include <cstdint>

#include "config/config_byte_array.h"

namespace quor::tessera::diagnostics::config2 {

constexpr uint32_t kFieldBytes = 4;

uint32_t ReadImageField(const ConfigByteArray& image, uint32_t position);
void WriteImageField(ConfigByteArray& image, uint32_t position, uint32_t value);

}  // namespace quor::tessera::diagnostics::config2
