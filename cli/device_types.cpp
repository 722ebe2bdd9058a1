#include "cli/device_types.h"

namespace tessera::cli {

namespace {

struct ModelType {
  const char* model;  // as the server compares it: lower case, words separated by spaces
  int deviceType;
};

// An IMU on a motor controller's ribbon cable answers through the controller's IDs.
constexpr ModelType kModelTypes[] = {
    {"harrier hx", 1}, {"kestrel kx", 2}, {"kestrel kf", 2}, {"wren over ribbon", 2},
    {"cantap", 3},     {"candial", 5},    {"pdp", 8},        {"pcm", 9},
    {"wren", 21},
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

}  // namespace tessera::cli
