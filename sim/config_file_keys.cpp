#include "sim/config_file_keys.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "sim/config_document.h"
#include "sim/config_image.h"
#include "sim/config_store.h"
#include "sim/family_traits.h"

namespace quor::tessera::sim {
namespace {

using nlohmann::json;

constexpr uint32_t kFieldBytes = 4;
constexpr int32_t kLowest = std::numeric_limits<int32_t>::min();
constexpr int32_t kHighest = std::numeric_limits<int32_t>::max();
constexpr long kLongestSingleFrame = 6;  // an answer's bytes in one frame

struct Problem {
  std::string key;
  std::string message;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal bytes, whitespace allowed; `length` of them, or from 1 to -`length` when negative.
std::vector<uint8_t> ParseHexBytes(const json& value, const char* key, long length) {
  if (!value.is_string()) throw Problem{key, "expected a text, got " + value.dump()};
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : value.get<std::string>()) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit = HexValue(c);
    if (digit < 0) throw Problem{key, std::string("not a hexadecimal digit: '") + c + "'"};
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  const long count = static_cast<long>(bytes.size());
  const bool fits = length >= 0 ? count == length : count >= 1 && count <= -length;
  if (high >= 0 || !fits) {
    const std::string expected = length >= 0 ? std::to_string(length) + " bytes (" + std::to_string(2 * length) + " digits)"
                                             : "1 to " + std::to_string(-length) + " bytes";
    throw Problem{key, "expected " + expected + ", got " + std::to_string(bytes.size()) +
                           (high >= 0 ? " and a half" : "")};
  }
  return bytes;
}

std::vector<uint8_t> EncodeDocument(const json& document, DeviceFamily family, size_t length) {
  std::vector<uint8_t> image(ConfigStore::kMaxImageBytes, 0);
  FillDefaultConfigImage(family, image.data(), image.size());
  std::string error;
  if (!EncodeConfigDocument(family, document, image.data(), length, &error))
    throw Problem{"config", error};
  image.resize(length);
  return image;
}

int32_t ClampBound(const json& clamp, const char* key, int32_t otherwise) {
  if (!clamp.contains(key)) return otherwise;
  const json& value = clamp[key];
  const bool fits = value.is_number_integer() && value.get<int64_t>() >= kLowest &&
                    value.get<int64_t>() <= kHighest;
  if (!fits) {
    throw Problem{std::string("config_clamp.") + key,
                  "expected a signed 32-bit whole number, got " + value.dump()};
  }
  return static_cast<int32_t>(value.get<int64_t>());
}

ConfigClamp ParseClamp(const json& clamp, size_t length) {
  if (!clamp.is_object()) throw Problem{"config_clamp", "expected an object, got " + clamp.dump()};
  for (auto it = clamp.begin(); it != clamp.end(); ++it) {
    if (it.key() != "position" && it.key() != "min" && it.key() != "max")
      throw Problem{"config_clamp." + it.key(), "unknown key"};
  }
  const json position = clamp.value("position", json());
  if (!position.is_number_unsigned() || position.get<uint64_t>() % kFieldBytes != 0 ||
      position.get<uint64_t>() + kFieldBytes > length)
    throw Problem{"config_clamp.position", "expected a multiple of 4 below " +
                                               std::to_string(length - kFieldBytes + 1) +
                                               ", got " + position.dump()};
  ConfigClamp result;
  result.position = static_cast<uint16_t>(position.get<uint64_t>());
  result.minimum = ClampBound(clamp, "min", kLowest);
  result.maximum = ClampBound(clamp, "max", kHighest);
  if (!clamp.contains("min") && !clamp.contains("max"))
    throw Problem{"config_clamp", "needs \"min\" or \"max\""};
  if (result.minimum > result.maximum)
    throw Problem{"config_clamp", "\"min\" is above \"max\""};
  return result;
}

bool ParseWriteBehaviour(const json& value) {
  if (value == "apply") return false;
  if (value == "ignore") return true;
  throw Problem{"config_write", "expected \"apply\" or \"ignore\", got " + value.dump()};
}

ReadsAfterWrite ParseReadsAfterWrite(const json& value) {
  if (value == "whole") return ReadsAfterWrite::kWhole;
  if (value == "silent") return ReadsAfterWrite::kSilent;
  if (value == "short") return ReadsAfterWrite::kShort;
  throw Problem{"config_read_after_write",
                "expected \"whole\", \"silent\" or \"short\", got " + value.dump()};
}

void Parse(const json& entry, DeviceFamily family, ConfigSettings* settings) {
  const size_t length = TraitsOf(family).configImageLength;
  for (const char* key : kConfigFileKeys) {
    if (entry.contains(key) && length == 0)
      throw Problem{key, "this family keeps no configuration"};
  }
  if (entry.contains("config") && entry.contains("config_hex"))
    throw Problem{"config_hex", "give the start image either as \"config\" or as \"config_hex\""};
  if (entry.contains("config"))
    settings->startImage = EncodeDocument(entry["config"], family, length);
  if (entry.contains("config_hex"))
    settings->startImage = ParseHexBytes(entry["config_hex"], "config_hex", static_cast<long>(length));
  if (entry.contains("config_clamp")) settings->clamp = ParseClamp(entry["config_clamp"], length);
  if (entry.contains("config_write"))
    settings->ignoresWrites = ParseWriteBehaviour(entry["config_write"]);
  if (entry.contains("config_write_answer"))
    settings->writeAnswer = ParseHexBytes(entry["config_write_answer"], "config_write_answer", -kLongestSingleFrame);
  if (entry.contains("config_read_after_write"))
    settings->readsAfterWrite = ParseReadsAfterWrite(entry["config_read_after_write"]);
}

}  // namespace

std::optional<ConfigKeyError> ParseConfigKeys(const json& entry, DeviceFamily family,
                                              ConfigSettings* settings) {
  try {
    Parse(entry, family, settings);
  } catch (const Problem& problem) {
    return ConfigKeyError{problem.key, problem.message};
  }
  return std::nullopt;
}

}  // namespace quor::tessera::sim
