#include "config/config_value_group.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "config/config2_conversions.h"
#include "config/field_range.h"
#include "config/image_fields.h"
#include "config/saturating_cast.h"
#include "device/error_codes.h"

namespace quor::tessera::diagnostics::config2 {

ConfigValueGroup::ConfigValueGroup(const FieldSpec* fields, size_t fieldCount, uint32_t basePosition)
    : fields_(fields), fieldCount_(fieldCount), basePosition_(basePosition) {
  assert(fieldCount <= kMaxFields);
}

int32_t ConfigValueGroup::Deserialize(const ConfigByteArray& image) {
  for (size_t i = 0; i < fieldCount_; ++i) {
    values_[i] = Decode(fields_[i], ReadImageField(image, basePosition_ + fields_[i].position));
  }
  return QUOR_DI_OKAY;
}

int32_t ConfigValueGroup::Deserialize(const json& values) {
  try {
    for (size_t i = 0; i < fieldCount_; ++i) {
      const json& value = CheckedAt(values, fields_[i].key);
      values_[i] = ReadJsonValue(fields_[i], value);
      requested_[i] = value.is_number() ? value.get<double>() : values_[i];
    }
  } catch (const json::exception&) {
    return QUOR_DI_InvalidJson;
  }
  return QUOR_DI_OKAY;
}

int32_t ConfigValueGroup::Serialize(ConfigByteArray& image) const {
  for (size_t i = 0; i < fieldCount_; ++i) {
    WriteImageField(image, basePosition_ + fields_[i].position, Encode(fields_[i], values_[i]));
  }
  return QUOR_DI_OKAY;
}

void ConfigValueGroup::SerializeOver(ConfigByteArray& image, const std::string& where,
                                     std::vector<std::string>& refused) const {
  for (size_t i = 0; i < fieldCount_; ++i) {
    const FieldSpec& field = fields_[i];
    const uint32_t position = basePosition_ + field.position;
    if (requested_[i] == Decode(field, ReadImageField(image, position))) continue;
    if (!ValueFitsField(field, requested_[i])) {
      refused.push_back(where + " / " + field.key + " = " + json(requested_[i]).dump());
      continue;
    }
    WriteImageField(image, position, Encode(field, values_[i]));
  }
}

void ConfigValueGroup::AppendDifferences(const ConfigValueGroup& other, const std::string& where,
                                         std::vector<std::string>& differences) const {
  assert(other.fields_ == fields_);
  for (size_t i = 0; i < fieldCount_; ++i) {
    if (Encode(fields_[i], values_[i]) != Encode(fields_[i], other.values_[i]))
      differences.push_back(where + " / " + fields_[i].key);
  }
}

int32_t ConfigValueGroup::Serialize(json& values) const {
  if (!values.is_object()) return QUOR_DI_InvalidJson;
  for (size_t i = 0; i < fieldCount_; ++i) values[fields_[i].key] = WriteJsonValue(fields_[i], values_[i]);
  return QUOR_DI_OKAY;
}

double ConfigValueGroup::Get(const char* key) const {
  size_t index = 0;
  return FindField(key, index) != nullptr ? values_[index] : 0.0;
}

void ConfigValueGroup::Set(const char* key, double value) {
  size_t index = 0;
  if (FindField(key, index) != nullptr) values_[index] = value;
}

const FieldSpec* ConfigValueGroup::FindField(const char* key, size_t& index) const {
  for (index = 0; index < fieldCount_; ++index) {
    if (std::strcmp(fields_[index].key, key) == 0) return &fields_[index];
  }
  return nullptr;
}

uint32_t ConfigValueGroup::Encode(const FieldSpec& field, double value) const {
  const double scaled = value * field.writeScale / field.writeDivisor;
  switch (field.coding) {
    case FieldCoding::AsIs:
      return field.kind == JsonKind::UInt ? SaturatingTrunc<uint32_t>(value)
                                          : static_cast<uint32_t>(SaturatingTrunc<int32_t>(value));
    case FieldCoding::ScaledUnsigned:
      return SaturatingTrunc<uint32_t>(std::round(scaled));
    case FieldCoding::ScaledSigned:
      return static_cast<uint32_t>(SaturatingTrunc<int32_t>(std::round(scaled)));
    case FieldCoding::Flag:
      return value != 0 ? 1u : 0u;
    case FieldCoding::InvertedFlag:
      return value != 0 ? 0u : 1u;
    case FieldCoding::SignedThrottle:
      return static_cast<uint32_t>(PeakToThrot_i(value));
    case FieldCoding::ForwardPeak:
    case FieldCoding::UnsignedThrottle:
      return PeakToThrot_u(value);
    case FieldCoding::ReversePeak:
      return static_cast<uint32_t>(-static_cast<int32_t>(PeakToThrot_u(-value)));
    case FieldCoding::Ramp:
      return TimeToRamp(value);
    case FieldCoding::Fixed10dot22U:
      return DoubleTo10dot22_u(value);
    case FieldCoding::Fixed10dot22S:
      return static_cast<uint32_t>(DoubleTo10dot22_i(value));
  }
  return 0;
}

double ConfigValueGroup::Decode(const FieldSpec& field, uint32_t raw) const {
  const int32_t signedRaw = static_cast<int32_t>(raw);
  switch (field.coding) {
    case FieldCoding::AsIs:
      return field.kind == JsonKind::UInt ? static_cast<double>(raw) : static_cast<double>(signedRaw);
    case FieldCoding::ScaledUnsigned:
      return raw * field.readScale;
    case FieldCoding::ScaledSigned:
      return signedRaw * field.readScale;
    case FieldCoding::Flag:
      return raw != 0 ? 1.0 : 0.0;
    case FieldCoding::InvertedFlag:
      return raw == 0 ? 1.0 : 0.0;
    case FieldCoding::SignedThrottle:
    case FieldCoding::ForwardPeak:
    case FieldCoding::ReversePeak:
      return ThrotToPeak_i(signedRaw);
    case FieldCoding::UnsignedThrottle:
      return ThrotToPeak_u(raw);
    case FieldCoding::Ramp:
      return RampToTime(static_cast<double>(raw));
    case FieldCoding::Fixed10dot22U:
      return Fixed10dot22ToDouble_u(raw);
    case FieldCoding::Fixed10dot22S:
      return Fixed10dot22ToDouble_i(raw);
  }
  return 0;
}

namespace {

// An integer field takes the whole number nearest to a fraction it is given, as every other
// field takes the value it holds nearest to the number typed (1.9 is 2, not 1).
json NearestWhole(const json& value) {
  return value.is_number_float() ? json(std::round(value.get<double>())) : value;
}

}  // namespace

double ConfigValueGroup::ReadJsonValue(const FieldSpec& field, const json& value) const {
  if (field.acceptsBoolean && value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
  switch (field.kind) {
    case JsonKind::Int:
      return ReadJsonInt32(NearestWhole(value));
    case JsonKind::UInt:
      return ReadJsonUInt32(NearestWhole(value));
    case JsonKind::Float:
      return ReadJsonDouble(value);
    case JsonKind::Bool:
      return ReadJsonBool(value) ? 1.0 : 0.0;
  }
  return 0;
}

json ConfigValueGroup::WriteJsonValue(const FieldSpec& field, double value) const {
  switch (field.kind) {
    case JsonKind::Int:
      return SaturatingTrunc<int32_t>(value);
    case JsonKind::UInt:
      return SaturatingTrunc<uint32_t>(value);
    case JsonKind::Float:
      return value;
    case JsonKind::Bool:
      return value != 0;
  }
  return nullptr;
}

}  // namespace quor::tessera::diagnostics::config2
