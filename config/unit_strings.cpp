#include "config/unit_strings.h"

#include <utf8.h>

#include <array>
#include <vector>

#include "core/string_util.h"

namespace quor::tessera::core::units_util::diag {

namespace {

constexpr size_t kPackedBytes = 8;
constexpr uint32_t kWideCodeWidth = 8;
constexpr uint32_t kNarrowCodeWidth = 4;

constexpr std::array<const char*, 19> kUnitNames = {
    "legacy", "rotation", "rotations", "deg",   "degree",     "degrees",     "radian",
    "rad",    "radians",  "inch",      "inches", "feet",      "ft",          "yard",
    "yards",  "centimeter", "centimeters", "meter", "meters",
};

struct UnitCode {
  std::string name;
  std::string code;
};

// Codes are underscores padding the pair number (from 1) to the width: "______03", "__03".
std::vector<UnitCode> BuildTable(uint32_t width) {
  std::vector<UnitCode> table;
  table.reserve(kUnitNames.size());
  for (size_t i = 0; i < kUnitNames.size(); ++i) {
    const size_t pair = i + 1;
    const char number[] = {static_cast<char>('0' + pair / 10), static_cast<char>('0' + pair % 10), '\0'};
    table.push_back({kUnitNames[i], std::string(width - 2, '_') + number});
  }
  return table;
}

const std::vector<UnitCode>* TableForWidth(uint32_t width) {
  static const std::vector<UnitCode> kWide = BuildTable(kWideCodeWidth);
  static const std::vector<UnitCode> kNarrow = BuildTable(kNarrowCodeWidth);
  if (width == kWideCodeWidth) return &kWide;
  if (width == kNarrowCodeWidth) return &kNarrow;
  return nullptr;
}

// Built at load so that no request pays for it.
[[maybe_unused]] const bool kTablesBuilt = TableForWidth(kWideCodeWidth) != nullptr && TableForWidth(kNarrowCodeWidth) != nullptr;

}  // namespace

std::string CompileUnitString(const std::string& text, uint32_t width) {
  const std::vector<UnitCode>* table = TableForWidth(width);
  if (table == nullptr) return "";
  if (text.size() <= width) return text;
  const std::string lower = string_util::toLower(text);
  for (const UnitCode& unit : *table) {
    if (unit.name == lower) return unit.code;
  }
  return trimUtf8(text, width);
}

std::string DecompileUnitString(const std::string& text, uint32_t width) {
  const std::vector<UnitCode>* table = TableForWidth(width);
  if (table == nullptr) return "";
  for (const UnitCode& unit : *table) {
    if (unit.code == text) return unit.name;
  }
  return text;
}

void EncodeUnitString(const std::string& text, uint32_t& word0, uint32_t& word1) {
  std::array<uint8_t, kPackedBytes> bytes{};
  for (size_t i = 0; i < text.size() && i < kPackedBytes; ++i) bytes[i] = static_cast<uint8_t>(text[i]);
  word0 = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  word1 = static_cast<uint32_t>(bytes[4]) | static_cast<uint32_t>(bytes[5]) << 8 |
          static_cast<uint32_t>(bytes[6]) << 16 | static_cast<uint32_t>(bytes[7]) << 24;
}

std::string DecodeUnitString(uint32_t word0, uint32_t word1) {
  std::string text;
  for (uint32_t word : {word0, word1}) {
    for (int shift = 0; shift < 32; shift += 8) {
      const char byte = static_cast<char>((word >> shift) & 0xFF);
      if (byte == '\0') return text;
      text.push_back(byte);
    }
  }
  return text;
}

std::string trimUtf8(const std::string& text, size_t n) {
  const size_t cut = text.size() < n ? text.size() : n;
  const auto end = text.begin() + static_cast<std::ptrdiff_t>(cut);
  return std::string(text.begin(), utf8::find_invalid(text.begin(), end));
}

double GetVelScalar(int32_t timeBaseCode, std::string& text) {
  switch (timeBaseCode) {
    case 0:
      text = "per 100ms";
      return 1.0;
    case 1:
      text = "per sec";
      return 10.0;
    case 2:
      text = "per min";
      return 600.0;
    default:
      return 1.0;
  }
}

}  // namespace quor::tessera::core::units_util::diag
