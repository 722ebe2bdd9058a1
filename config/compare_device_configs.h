#pragma once
// Decides whether the configuration read back from a device agrees with the one written.
#include <nlohmann/json.hpp>

namespace quor::tessera::utility {

// Walks both documents' "Configs" groups and their "Values" in step, pairing values by position
// (keys are not compared): booleans must be equal, texts equal ignoring case, numbers within 1.0
// of each other as single-precision values. True only when both documents have the same number
// of groups. Never throws: a value of an unusable type, or a requested group with fewer values
// than the read-back one, counts as a mismatch.
bool CompareDeviceConfigs(nlohmann::json readBack, nlohmann::json requested);

}  // namespace quor::tessera::utility
