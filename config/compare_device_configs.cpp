#include "config/compare_device_configs.h"

#include <cfloat>
#include <cmath>
#include <string>

#include "core/string_util.h"

namespace quor::tessera::utility {

namespace {

using json = nlohmann::json;

constexpr float kNumericTolerance = 1.0f;

// A JSON number (or boolean) as single precision, saturated so that huge doubles neither
// overflow the conversion nor turn into infinities that never compare.
float ToFloat(const json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1.0f : 0.0f;
  const double number = value.get<double>();  // throws json::type_error for non-numbers
  if (number > FLT_MAX) return FLT_MAX;
  if (number < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(number);
}

bool ValuesAgree(const json& readBack, const json& requested) {
  if (readBack.is_boolean()) return readBack == requested;
  if (readBack.is_string()) {
    const std::string requestedText = requested.get<std::string>();  // throws unless a string
    return string_util::strcmp_nocase(readBack.get_ref<const std::string&>().c_str(), requestedText.c_str()) == 0;
  }
  // NaN on either side fails this test, so it counts as a mismatch.
  return std::fabs(ToFloat(readBack) - ToFloat(requested)) <= kNumericTolerance;
}

}  // namespace

bool CompareDeviceConfigs(json readBack, json requested) {
  try {
    // Indexing the copies creates a missing member as null, which walks as an empty range.
    json& readBackGroups = readBack["Configs"];
    json& requestedGroups = requested["Configs"];
    auto readBackGroup = readBackGroups.begin();
    auto requestedGroup = requestedGroups.begin();
    for (; readBackGroup != readBackGroups.end() && requestedGroup != requestedGroups.end();
         ++readBackGroup, ++requestedGroup) {
      json& readBackValues = (*readBackGroup)["Values"];
      json& requestedValues = (*requestedGroup)["Values"];
      auto requestedValue = requestedValues.begin();
      for (auto readBackValue = readBackValues.begin(); readBackValue != readBackValues.end();
           ++readBackValue, ++requestedValue) {
        // Running out of requested values means the device holds something that was not sent.
        if (requestedValue == requestedValues.end()) return false;
        if (!ValuesAgree(*readBackValue, *requestedValue)) return false;
      }
    }
    return readBackGroup == readBackGroups.end() && requestedGroup == requestedGroups.end();
  } catch (const json::exception&) {
    return false;
  }
}

}  // namespace quor::tessera::utility
