#include "config/image_fields.h"

#include <cassert>

namespace quor::tessera::diagnostics::config2 {

uint32_t ReadImageField(const ConfigByteArray& image, uint32_t position) {
  assert(position % kFieldBytes == 0 && position + kFieldBytes <= ConfigByteArray::kMaxBytes);
  const uint8_t* bytes = image.data + position;
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteImageField(ConfigByteArray& image, uint32_t position, uint32_t value) {
  assert(position % kFieldBytes == 0 && position + kFieldBytes <= ConfigByteArray::kMaxBytes);
  uint8_t* bytes = image.data + position;
  for (uint32_t i = 0; i < kFieldBytes; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace quor::tessera::diagnostics::config2
