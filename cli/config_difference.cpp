#include "cli/config_difference.h"

namespace tessera::cli {

namespace {

bool SameEntry(const nlohmann::json& a, const nlohmann::json& b) {
  return a.value("Name", nlohmann::json()) == b.value("Name", nlohmann::json()) &&
         a.value("Ordinal", nlohmann::json()) == b.value("Ordinal", nlohmann::json());
}

bool SameValue(const nlohmann::json& a, const nlohmann::json& b) {
  if (a.is_number() && b.is_number()) return a.get<double>() == b.get<double>();
  return a == b;
}

std::string EntryName(const nlohmann::json& entry) {
  std::string name = entry.value("Name", nlohmann::json("?")).is_string()
                         ? entry["Name"].get<std::string>()
                         : entry.value("Name", nlohmann::json()).dump();
  if (entry.contains("Ordinal")) name += " (ordinal " + entry["Ordinal"].dump() + ")";
  return name;
}

const nlohmann::json* FindEntry(const nlohmann::json& configs, const nlohmann::json& entry) {
  if (!configs.is_array()) return nullptr;
  for (const auto& candidate : configs)
    if (candidate.is_object() && SameEntry(candidate, entry)) return &candidate;
  return nullptr;
}

}  // namespace

std::vector<std::string> ConfigDifferences(const nlohmann::json& sent, const nlohmann::json& readBack) {
  std::vector<std::string> lines;
  if (!sent.is_object() || !sent.contains("Configs") || !sent["Configs"].is_array()) return lines;
  const nlohmann::json none = nlohmann::json::array();
  const nlohmann::json& held =
      readBack.is_object() && readBack.contains("Configs") ? readBack["Configs"] : none;
  for (const auto& entry : sent["Configs"]) {
    if (!entry.is_object() || !entry.contains("Values") || !entry["Values"].is_object()) continue;
    const nlohmann::json* other = FindEntry(held, entry);
    for (const auto& [key, value] : entry["Values"].items()) {
      const std::string where = EntryName(entry) + ": " + key + ": sent " + value.dump();
      if (other == nullptr || !other->contains("Values") || !(*other)["Values"].contains(key))
        lines.push_back(where + ", the device's answer has no such value");
      else if (!SameValue(value, (*other)["Values"][key]))
        lines.push_back(where + ", the device holds " + (*other)["Values"][key].dump());
    }
  }
  return lines;
}

}  // namespace tessera::cli
