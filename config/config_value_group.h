#pragma once
// A configuration group driven by a table of fields: each field names its JSON key and type, its
// byte position in the configuration image and the encoding between the two. The concrete groups
// (value_groups.h, small_groups.h) are little more than their tables.
//
// Every encoding gives a value the raw field whose decoding is nearest to it, so decoding a
// field and encoding the result gives the same field back: values that travel to a document and
// back never drift.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/checked_json.h"
#include "config/config_byte_array.h"

namespace quor::tessera::diagnostics::config2 {

// JSON type of a value as written; on reading any numeric form is accepted for the numbers.
enum class JsonKind : uint8_t { Int, UInt, Float, Bool };

// How a value travels between its engineering form and the 32-bit image field.
enum class FieldCoding : uint8_t {
  AsIs,              // the integer itself; read back signed for Int, unsigned for UInt
  ScaledUnsigned,    // value x scale rounded to the nearest unsigned 32-bit; read unsigned x readScale
  ScaledSigned,      // value x scale rounded to the nearest signed 32-bit; read signed x readScale
  Flag,              // 0/1; any non-zero reads true
  InvertedFlag,      // the device stores the opposite meaning: 1 when false
  SignedThrottle,    // PeakToThrot_i / ThrotToPeak_i
  ForwardPeak,       // PeakToThrot_u / ThrotToPeak_i
  ReversePeak,       // -PeakToThrot_u(-value) / ThrotToPeak_i
  UnsignedThrottle,  // PeakToThrot_u / ThrotToPeak_u
  Ramp,              // TimeToRamp / RampToTime of the unsigned field
  Fixed10dot22U,     // DoubleTo10dot22_u / unsigned x 2^-22
  Fixed10dot22S,     // DoubleTo10dot22_i / signed x 2^-22
};

struct FieldSpec {
  const char* key;
  JsonKind kind;
  uint32_t position;  // byte offset from the group's base position
  FieldCoding coding;
  double writeScale;    // scaled codings: field = nearest(value x writeScale / writeDivisor)
  double writeDivisor;
  double readScale;     // scaled codings: value = field x readScale
  bool acceptsBoolean;  // JSON true/false read as 1/0 for a number
};

constexpr FieldSpec Field(const char* key, JsonKind kind, uint32_t position, FieldCoding coding) {
  return {key, kind, position, coding, 1.0, 1.0, 1.0, false};
}
constexpr FieldSpec ScaledField(const char* key, uint32_t position, FieldCoding coding, double writeScale,
                                double writeDivisor, double readScale) {
  return {key, JsonKind::Float, position, coding, writeScale, writeDivisor, readScale, false};
}
constexpr FieldSpec BooleanTolerantField(const char* key, JsonKind kind, uint32_t position) {
  return {key, kind, position, FieldCoding::AsIs, 1.0, 1.0, 1.0, true};
}

class ConfigValueGroup {
 public:
  static constexpr size_t kMaxFields = 12;

  virtual ~ConfigValueGroup() = default;
  ConfigValueGroup(const ConfigValueGroup&) = default;
  ConfigValueGroup& operator=(const ConfigValueGroup&) = default;

  virtual int32_t Deserialize(const ConfigByteArray& image);
  // Reads every key of the table; a missing key or unusable type gives QUOR_DI_InvalidJson and
  // leaves the values read before it in place. Unknown keys are ignored.
  virtual int32_t Deserialize(const json& values);
  virtual int32_t Serialize(ConfigByteArray& image) const;
  // Sets every key of the table, leaving other keys alone; QUOR_DI_InvalidJson if not an object.
  virtual int32_t Serialize(json& values) const;

  // Writes this group's values over an image that holds the device's own ones, field by field:
  // a value equal to what the field already decodes to leaves the field's bytes as they are
  // (whatever the device stores there that the encoding would not reproduce), any other value
  // is encoded, unless its field cannot hold it: then "`where` / key = value" is appended to
  // `refused` and the field is left alone. Needs the values of Deserialize(json).
  virtual void SerializeOver(ConfigByteArray& image, const std::string& where,
                             std::vector<std::string>& refused) const;
  // Appends "`where` / key" for each value whose field encoding differs from `other`'s, a group
  // of the same class (both read from images): the values the device would hold differ.
  virtual void AppendDifferences(const ConfigValueGroup& other, const std::string& where,
                                 std::vector<std::string>& differences) const;

  // Engineering value of a key of this group (booleans 0/1); 0 for a key it does not have.
  double Get(const char* key) const;
  void Set(const char* key, double value);

 protected:
  ConfigValueGroup(const FieldSpec* fields, size_t fieldCount, uint32_t basePosition = 0);

 private:
  const FieldSpec* FindField(const char* key, size_t& index) const;
  uint32_t Encode(const FieldSpec& field, double value) const;
  double Decode(const FieldSpec& field, uint32_t raw) const;
  double ReadJsonValue(const FieldSpec& field, const json& value) const;
  json WriteJsonValue(const FieldSpec& field, double value) const;

  const FieldSpec* fields_;
  size_t fieldCount_;
  uint32_t basePosition_;
  std::array<double, kMaxFields> values_{};
  // The numbers the last document gave, before conversion to the value's type (booleans 0/1).
  std::array<double, kMaxFields> requested_{};
};

}  // namespace quor::tessera::diagnostics::config2
