#include "sim/config_image.h"

#include <cstring>

#include "sim/family_traits.h"

namespace quor::tessera::sim {

size_t FillDefaultConfigImage(DeviceFamily family, uint8_t* buffer, size_t capacity) {
  const FamilyTraits& traits = TraitsOf(family);
  if (traits.configImageLength == 0 || traits.configImageLength > capacity) return 0;
  // Every field is a 32-bit little-endian word; a fresh device has all of them zero except
  // the format marker at position 0.
  std::memset(buffer, 0, traits.configImageLength);
  buffer[0] = traits.configFormatMarker;
  return traits.configImageLength;
}

}  // namespace quor::tessera::sim
