#pragma once
// The configuration keys of a device-file entry:
//   "config"        a configuration document (as "getconfig" answers) applied over the family's
//                   factory image: the image the device holds at power-up
//   "config_hex"    the same image as hexadecimal bytes (whitespace allowed), exactly the
//                   family's image length
//   "config_clamp"  {"position": P, "min": A, "max": B}: the firmware keeps the signed 32-bit
//                   field at byte P of every image it is sent within A..B, silently
//   "config_write"  "apply" (default) or "ignore": neither take nor acknowledge writes
//   "config_write_answer"       the bytes a write that was taken is answered with, as hex
//                               ("05 01"); by default the firmware generation's acknowledgement
//   "config_read_after_write"   "whole" (default), "silent" or "short": how configuration reads
//                               are answered once a write was taken
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/config_settings.h"
#include "sim/device_attributes.h"

namespace quor::tessera::sim {

constexpr const char* kConfigFileKeys[] = {"config",       "config_hex",          "config_clamp",
                                           "config_write", "config_write_answer", "config_read_after_write"};

struct ConfigKeyError {
  std::string key;  // the key at fault, possibly with a path below it
  std::string message;
};

// Reads the entry's configuration keys into `settings`; the first problem, if any.
std::optional<ConfigKeyError> ParseConfigKeys(const nlohmann::json& entry, DeviceFamily family,
                                              ConfigSettings* settings);

}  // namespace quor::tessera::sim
