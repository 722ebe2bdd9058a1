#pragma once
// The device-file keys that set what a device's status frames report:
//
//   "state": { "enabled": true, "output": 0.5, "faults": ["under_voltage"], ... }
//   "omit_frames": ["0x1480", "0x15C0"]   (or ["all"])
//   "scramble": "vary" | "plain" | "short" | "long"
//
// "state" takes the keys of the device's own family only; unknown keys are errors, so a
// misspelt key never falls back to a default.
#include <nlohmann/json.hpp>
#include <string>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

struct StateKeyError {
  std::string key;  // path below the device entry ("state.output")
  std::string message;
};

// Applies the three keys, where present in the device entry, to `device.state`. On failure
// returns false with the offending key and what is wrong with it.
bool ParseStatusKeys(const nlohmann::json& entry, DeviceAttributes* device, StateKeyError* error);

// The keys ParseStatusKeys reads from a device entry.
extern const char* const kStatusDeviceKeys[3];

}  // namespace quor::tessera::sim
