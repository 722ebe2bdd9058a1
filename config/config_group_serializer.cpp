#include "config/config_group_serializer.h"

#include "config/top_level_groups.h"
#include "device/error_codes.h"

namespace quor::tessera::diagnostics::config2 {

std::unique_ptr<CompositeConfigGroup> ConfigGroupSerializer::MakeGroup(const std::string& model) {
  const auto contains = [&model](const char* text) { return model.find(text) != std::string::npos; };
  if (contains("kestrel kx")) return std::make_unique<MotorControllerGroup>();
  if (contains("kestrel kf")) return std::make_unique<KestrelKFGroup>();
  if (contains("harrier hx")) return std::make_unique<MotorControllerGroup>();
  if (contains("candial")) return std::make_unique<CANdialGroup>();
  if (contains("wren")) return std::make_unique<WrenIMUGroup>();
  return nullptr;
}

int32_t ConfigGroupSerializer::Serialize(const std::string& model, const ConfigByteArray& image, json& document) {
  const std::unique_ptr<CompositeConfigGroup> group = MakeGroup(model);
  if (!group) return QUOR_DI_InvalidModel;
  const int32_t result = group->Deserialize(image);
  if (result != QUOR_DI_OKAY) return result;
  return group->SerializeJson(model, document);
}

int32_t ConfigGroupSerializer::Deserialize(const std::string& model, const json& document, ConfigByteArray& image) {
  const std::unique_ptr<CompositeConfigGroup> group = MakeGroup(model);
  if (!group) return QUOR_DI_InvalidModel;
  const int32_t result = group->DeserializeJson(document);
  if (result != QUOR_DI_OKAY) return result;
  return group->Serialize(image);
}

int32_t ConfigGroupSerializer::DeserializeOver(const std::string& model, const json& document,
                                               const ConfigByteArray& base, ConfigByteArray& image,
                                               std::vector<std::string>& refused) {
  const std::unique_ptr<CompositeConfigGroup> group = MakeGroup(model);
  if (!group) return QUOR_DI_InvalidModel;
  const int32_t result = group->DeserializeJson(document);
  if (result != QUOR_DI_OKAY) return result;
  return group->SerializeOver(base, image, refused);
}

std::vector<std::string> ConfigGroupSerializer::Differences(const std::string& model, const ConfigByteArray& sent,
                                                            const ConfigByteArray& readBack) {
  const std::unique_ptr<CompositeConfigGroup> sentGroup = MakeGroup(model);
  const std::unique_ptr<CompositeConfigGroup> readBackGroup = MakeGroup(model);
  if (!sentGroup) return {};
  sentGroup->Deserialize(sent);
  readBackGroup->Deserialize(readBack);
  return sentGroup->Differences(*readBackGroup);
}

bool ConfigGroupSerializer::IsWholeImage(const std::string& model, const ConfigByteArray& image) {
  const std::unique_ptr<CompositeConfigGroup> group = MakeGroup(model);
  return !group || group->IsWholeImage(image);
}

}  // namespace quor::tessera::diagnostics::config2
