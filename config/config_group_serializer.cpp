#include "config/config_group_serializer.h"

#include "config/top_level_groups.h"
#include "device/error_codes.h"

namespace quor::tessera::diagnostics::config2 {

std::unique_ptr<IConfigGroup> ConfigGroupSerializer::MakeGroup(const std::string& model) {
  const auto contains = [&model](const char* text) { return model.find(text) != std::string::npos; };
  if (contains("kestrel kx")) return std::make_unique<MotorControllerGroup>();
  if (contains("kestrel kf")) return std::make_unique<KestrelKFGroup>();
  if (contains("harrier hx")) return std::make_unique<MotorControllerGroup>();
  if (contains("candial")) return std::make_unique<CANdialGroup>();
  if (contains("wren")) return std::make_unique<WrenIMUGroup>();
  return nullptr;
}

int32_t ConfigGroupSerializer::Serialize(const std::string& model, const ConfigByteArray& image, json& document) {
  const std::unique_ptr<IConfigGroup> group = MakeGroup(model);
  if (!group) return QUOR_DI_InvalidModel;
  const int32_t result = group->Deserialize(image);
  if (result != QUOR_DI_OKAY) return result;
  return group->SerializeJson(model, document);
}

int32_t ConfigGroupSerializer::Deserialize(const std::string& model, const json& document, ConfigByteArray& image) {
  uint32_t valuesOutOfRange = 0;
  return Deserialize(model, document, image, valuesOutOfRange);
}

int32_t ConfigGroupSerializer::Deserialize(const std::string& model, const json& document, ConfigByteArray& image,
                                           uint32_t& valuesOutOfRange) {
  valuesOutOfRange = 0;
  const std::unique_ptr<IConfigGroup> group = MakeGroup(model);
  if (!group) return QUOR_DI_InvalidModel;
  const int32_t result = group->DeserializeJson(document);
  if (result != QUOR_DI_OKAY) return result;
  valuesOutOfRange = group->ValuesOutOfRange();
  return group->Serialize(image);
}

}  // namespace quor::tessera::diagnostics::config2
