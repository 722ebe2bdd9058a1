#include "config/config_group.h"

#include <cassert>
#include <cstring>

#include "config/config_templates.h"
#include "config/image_fields.h"
#include "device/error_codes.h"

namespace quor::tessera::diagnostics::config2 {

namespace {

constexpr const char* kConfigsKey = "Configs";
constexpr const char* kTypeKey = "Type";
constexpr const char* kOrdinalKey = "Ordinal";
constexpr const char* kValuesKey = "Values";
constexpr uint32_t kFormatMarkerPosition = 0;

}  // namespace

CompositeConfigGroup::CompositeConfigGroup(uint32_t imageLength, uint32_t formatMarker)
    : imageLength_(imageLength), formatMarker_(formatMarker) {
  assert(imageLength <= ConfigByteArray::kMaxBytes);
}

void CompositeConfigGroup::AddMember(const char* type, ConfigValueGroup& group, int32_t ordinal) {
  assert(memberCount_ < kMaxMembers);
  members_[memberCount_++] = {type, ordinal, &group, false};
}

CompositeConfigGroup::Member* CompositeConfigGroup::FindMember(const std::string& type, const json& entry) {
  bool ordinalRead = false;
  int32_t ordinal = 0;
  for (size_t i = 0; i < memberCount_; ++i) {
    Member& member = members_[i];
    if (type != member.type) continue;
    if (member.ordinal == kAnyOrdinal) return &member;
    if (!ordinalRead) {
      ordinal = ReadJsonInt32(CheckedAt(entry, kOrdinalKey));
      ordinalRead = true;
    }
    if (ordinal == member.ordinal) return &member;
  }
  return nullptr;
}

std::string CompositeConfigGroup::Label(const Member& member) {
  if (member.ordinal == kAnyOrdinal) return member.type;
  return std::string(member.type) + " " + std::to_string(member.ordinal);
}

int32_t CompositeConfigGroup::DeserializeJson(const json& document) {
  for (size_t i = 0; i < memberCount_; ++i) members_[i].named = false;
  try {
    const json& configs = CheckedAt(document, kConfigsKey);
    if (!configs.is_array()) return QUOR_DI_InvalidJson;
    for (const json& entry : configs) {
      Member* member = FindMember(CheckedAt(entry, kTypeKey).get<std::string>(), entry);
      if (member == nullptr) continue;
      const int32_t result = member->group->Deserialize(CheckedAt(entry, kValuesKey));
      if (result != QUOR_DI_OKAY) return result;
      member->named = true;
    }
  } catch (const json::exception&) {
    return QUOR_DI_InvalidJson;
  }
  return QUOR_DI_OKAY;
}

int32_t CompositeConfigGroup::SerializeJson(const std::string& model, json& document) {
  json configs = json::array();
  int32_t result = QUOR_DI_OKAY;
  try {
    json filled = quor::tessera::utility::GetDeviceJson(model);
    if (!CheckedAt(filled, kConfigsKey).is_array()) return QUOR_DI_InvalidJson;
    for (json& entry : filled[kConfigsKey]) {
      const Member* member = FindMember(CheckedAt(entry, kTypeKey).get<std::string>(), entry);
      if (member != nullptr) {
        const auto values = entry.find(kValuesKey);
        if (values == entry.end()) return QUOR_DI_InvalidJson;
        result = member->group->Serialize(*values);
      }
      configs.push_back(std::move(entry));
      if (result != QUOR_DI_OKAY) break;
    }
    document[kConfigsKey] = std::move(configs);
  } catch (const json::exception&) {
    return QUOR_DI_InvalidJson;
  }
  return result;
}

int32_t CompositeConfigGroup::SerializeOver(const ConfigByteArray& base, ConfigByteArray& image,
                                            std::vector<std::string>& refused) {
  if (image.capacity < imageLength_) return kImageCapacityTooSmall;
  if (!IsWholeImage(base)) return QUOR_DI_NoConfigs;
  std::memcpy(image.data, base.data, imageLength_);
  image.length = imageLength_;
  for (size_t i = 0; i < memberCount_; ++i) {
    if (members_[i].named) members_[i].group->SerializeOver(image, Label(members_[i]), refused);
  }
  return QUOR_DI_OKAY;
}

std::vector<std::string> CompositeConfigGroup::Differences(const CompositeConfigGroup& other) const {
  assert(other.memberCount_ == memberCount_);
  std::vector<std::string> differences;
  for (size_t i = 0; i < memberCount_; ++i)
    members_[i].group->AppendDifferences(*other.members_[i].group, Label(members_[i]), differences);
  return differences;
}

bool CompositeConfigGroup::IsWholeImage(const ConfigByteArray& image) const {
  return image.length == imageLength_ && ReadImageField(image, kFormatMarkerPosition) == formatMarker_;
}

int32_t CompositeConfigGroup::Deserialize(const ConfigByteArray& image) {
  int32_t result = QUOR_DI_OKAY;
  for (size_t i = 0; i < memberCount_; ++i) {
    const int32_t memberResult = members_[i].group->Deserialize(image);
    if (result == QUOR_DI_OKAY) result = memberResult;
  }
  return result;
}

int32_t CompositeConfigGroup::Serialize(ConfigByteArray& image) {
  if (image.capacity < imageLength_) return kImageCapacityTooSmall;
  image.length = imageLength_;
  std::memset(image.data, 0, imageLength_);
  WriteImageField(image, kFormatMarkerPosition, formatMarker_);
  int32_t result = QUOR_DI_OKAY;
  for (size_t i = 0; i < memberCount_; ++i) {
    const int32_t memberResult = members_[i].group->Serialize(image);
    if (result == QUOR_DI_OKAY) result = memberResult;
  }
  return result;
}

}  // namespace quor::tessera::diagnostics::config2
