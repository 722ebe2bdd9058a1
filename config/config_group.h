#pragma once
// Top-level configuration groups: one per device model, owning the value groups of that model.
// They fix the image length and format marker and move a whole image or a whole configuration
// document through their members.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/checked_json.h"
#include "config/config_byte_array.h"
#include "config/config_value_group.h"

namespace quor::tessera::diagnostics::config2 {

// The caller's image holder is smaller than the model's image.
constexpr int32_t kImageCapacityTooSmall = -134;

class IConfigGroup {
 public:
  virtual ~IConfigGroup() = default;
  virtual int32_t DeserializeJson(const json& document) = 0;
  virtual int32_t SerializeJson(const std::string& model, json& document) = 0;
  virtual int32_t Deserialize(const ConfigByteArray& image) = 0;
  virtual int32_t Serialize(ConfigByteArray& image) = 0;
};

// The walk shared by every top-level group over its list of members. Members are registered by
// the derived class with the document "Type" that names them (and, for slots, the "Ordinal").
class CompositeConfigGroup : public IConfigGroup {
 public:
  CompositeConfigGroup(const CompositeConfigGroup&) = delete;
  CompositeConfigGroup& operator=(const CompositeConfigGroup&) = delete;

  // Group values from a document; entries of types this model lacks are skipped. The members
  // that an entry names are remembered for SerializeOver.
  int32_t DeserializeJson(const json& document) override;
  // document["Configs"] from the model's template, with the members' values filled in.
  int32_t SerializeJson(const std::string& model, json& document) override;
  int32_t Deserialize(const ConfigByteArray& image) override;
  // Zeroes the model's image length, writes the marker, then every member; -134 when the
  // holder's capacity is smaller than the image.
  int32_t Serialize(ConfigByteArray& image) override;

  // The image to write for the last document: `base`, the device's own whole image, with the
  // members that the document named written over it (ConfigValueGroup::SerializeOver), so
  // whatever the document does not change keeps the device's bytes. QUOR_DI_NoConfigs when
  // `base` is not a whole image of this model, -134 when `image` is too small. Values their
  // fields cannot hold are listed in `refused`; such an image must not be written.
  int32_t SerializeOver(const ConfigByteArray& base, ConfigByteArray& image,
                        std::vector<std::string>& refused);
  // After Deserialize(image) of this group and of `other` (the same model): the keys whose
  // values the two images hold differently.
  std::vector<std::string> Differences(const CompositeConfigGroup& other) const;
  // The model's length and format marker: anything else (a cut transfer, another model's
  // image) is not a whole image of this model.
  bool IsWholeImage(const ConfigByteArray& image) const;

  uint32_t ImageLength() const { return imageLength_; }

 protected:
  static constexpr int32_t kAnyOrdinal = -1;

  CompositeConfigGroup(uint32_t imageLength, uint32_t formatMarker);
  void AddMember(const char* type, ConfigValueGroup& group, int32_t ordinal = kAnyOrdinal);

 private:
  struct Member {
    const char* type;
    int32_t ordinal;
    ConfigValueGroup* group;
    bool named;  // by an entry of the last document
  };
  static constexpr size_t kMaxMembers = 20;

  // The member an entry names, or null when this model has none for it.
  Member* FindMember(const std::string& type, const json& entry);
  // "SlotGroup 2", "MotorOutputGroup": how log lines name a member.
  static std::string Label(const Member& member);

  uint32_t imageLength_;
  uint32_t formatMarker_;
  std::array<Member, kMaxMembers> members_{};
  size_t memberCount_ = 0;
};

}  // namespace quor::tessera::diagnostics::config2
