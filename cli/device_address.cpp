#include "cli/device_address.h"

#include "core/string_util.h"

namespace tessera::cli {

std::string NormalizeModel(const std::string& typed) {
  std::string model = quor::tessera::string_util::toLower(typed);
  for (char& c : model)
    if (c == '-' || c == '_') c = ' ';
  return model;
}

QueryParams DeviceQuery(const std::string& action, const DeviceAddress& device) {
  return {{"action", action}, {"model", device.model}, {"id", std::to_string(device.id)}};
}

}  // namespace tessera::cli
