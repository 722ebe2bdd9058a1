#include "cli/device_types.h"

#include <nlohmann/json.hpp>

#include "device/product_codes.h"

namespace tessera::cli {

namespace {

struct ModelType {
  const char* model;  // as the server compares it: lower case, words separated by spaces
  int deviceType;
};

// An IMU on a motor controller's ribbon cable answers through the controller's IDs.
constexpr ModelType kModelTypes[] = {
    {"harrier hx", device_type::kHarrierHx},
    {"kestrel kx", device_type::kMotorController},
    {"kestrel kf", device_type::kMotorController},
    {"wren over ribbon", device_type::kMotorController},
    {"cantap", device_type::kCanTap},
    {"candial", device_type::kCanDial},
    {"pdp", device_type::kPdp},
    {"pcm", device_type::kPcm},
    {"monsoon", device_type::kMonsoon},
    {"wren", device_type::kWren},
};

}  // namespace

std::optional<int> DeviceTypeOf(const std::string& model) {
  for (const ModelType& entry : kModelTypes)
    if (model == entry.model) return entry.deviceType;
  return std::nullopt;
}

std::vector<std::string> KnownModels() {
  std::vector<std::string> models;
  for (const ModelType& entry : kModelTypes) {
    std::string typed = entry.model;
    for (char& c : typed)
      if (c == ' ') c = '-';
    models.push_back(typed);
  }
  return models;
}

std::string DeviceTypesJson() {
  nlohmann::json table = nlohmann::json::object();
  for (const ModelType& entry : kModelTypes) table[entry.model] = entry.deviceType;
  return table.dump();
}

}  // namespace tessera::cli
