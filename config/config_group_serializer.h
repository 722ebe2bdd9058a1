#pragma once
// Converts between a device's configuration image and its JSON document, choosing the top-level
// group from the model text.
#include <cstdint>
#include <memory>
#include <string>

#include "config/config_byte_array.h"
#include "config/config_group.h"

namespace quor::tessera::diagnostics::config2 {

class ConfigGroupSerializer {
 public:
  // The group for the first of "kestrel kx", "kestrel kf", "harrier hx", "candial", "wren" that
  // `model` contains; null when it contains none.
  static std::unique_ptr<IConfigGroup> MakeGroup(const std::string& model);

  // Image -> document. QUOR_DI_InvalidModel (-135) for an unknown model. Never throws.
  static int32_t Serialize(const std::string& model, const ConfigByteArray& image, json& document);
  // Document -> image. QUOR_DI_InvalidModel for an unknown model, QUOR_DI_InvalidJson for a
  // malformed document, -134 when the image holder is too small. Never throws.
  static int32_t Deserialize(const std::string& model, const json& document, ConfigByteArray& image);
  // The same, also counting the document's numbers that their fields cannot hold (written
  // clamped into the image).
  static int32_t Deserialize(const std::string& model, const json& document, ConfigByteArray& image,
                             uint32_t& valuesOutOfRange);
};

}  // namespace quor::tessera::diagnostics::config2
