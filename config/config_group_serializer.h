#pragma once
// Converts between a device's configuration image and its JSON document, choosing the top-level
// group from the model text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/config_byte_array.h"
#include "config/config_group.h"

namespace quor::tessera::diagnostics::config2 {

class ConfigGroupSerializer {
 public:
  // The group for the first of "kestrel kx", "kestrel kf", "harrier hx", "candial", "wren" that
  // `model` contains; null when it contains none.
  static std::unique_ptr<CompositeConfigGroup> MakeGroup(const std::string& model);

  // Image -> document. QUOR_DI_InvalidModel (-135) for an unknown model. Never throws.
  static int32_t Serialize(const std::string& model, const ConfigByteArray& image, json& document);
  // Document -> image, every member the document does not name written as zeros.
  // QUOR_DI_InvalidModel for an unknown model, QUOR_DI_InvalidJson for a malformed document,
  // -134 when the image holder is too small. Never throws.
  static int32_t Deserialize(const std::string& model, const json& document, ConfigByteArray& image);
  // Document over the device's own whole image `base` -> the image to write: only what the
  // document changes differs from `base` (CompositeConfigGroup::SerializeOver). The codes of
  // Deserialize, and QUOR_DI_NoConfigs when `base` is not a whole image of the model. Values
  // their fields cannot hold are listed in `refused`; then nothing must be written.
  static int32_t DeserializeOver(const std::string& model, const json& document, const ConfigByteArray& base,
                                 ConfigByteArray& image, std::vector<std::string>& refused);
  // The keys whose values `sent` and `readBack` hold differently: two values are the same when
  // they encode to the same field. Both must be whole images of the model.
  static std::vector<std::string> Differences(const std::string& model, const ConfigByteArray& sent,
                                              const ConfigByteArray& readBack);
  // True when `image` has the length and format marker of the model's image, or the model is
  // not one this system knows the image of.
  static bool IsWholeImage(const std::string& model, const ConfigByteArray& image);
};

}  // namespace quor::tessera::diagnostics::config2
