#pragma once
// After a write the server reads the configuration back; when the device holds other values
// than were sent (-132) the user needs to know which.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tessera::cli {

// One line per value of `sent` (a configuration document) that `readBack` does not hold as
// sent: "Motor Output: Peak Forward Output: sent 1.5, the device holds 1".
std::vector<std::string> ConfigDifferences(const nlohmann::json& sent, const nlohmann::json& readBack);

}  // namespace tessera::cli
