#pragma once
// Device files (`--can sim:FILE`): a JSON list of simulated devices.
//
// { "devices": [ { "family": "kestrel kx", "id": 1, "firmware": "20.1", ... } ],
//   "bus": { "drop": 1, "seed": 7 } }
//
// `bus` (optional) makes the server's link to the devices misbehave (canmux/bus_faults.h).
// `family` and `id` are required; every other key has the family's default. Unknown keys are
// errors, so a misspelt key never silently falls back to a default.
#include <string>
#include <vector>

#include "canmux/bus_faults.h"
#include "sim/device_attributes.h"

namespace quor::tessera::sim {

// Files larger than this are refused before they are read.
constexpr size_t kMaxDeviceFileBytes = 1 << 20;
// More devices than a bus can address are refused.
constexpr size_t kMaxSimulatedDevices = 64;

// Parses the text of a device file. On failure returns false and sets `error` to a message
// naming the device and key ("devices[2].firmware: ..."). `bus`, when given, receives the
// file's bus faults (none when the file has no "bus").
bool ParseDeviceFile(const std::string& text, std::vector<DeviceAttributes>* devices,
                     std::string* error, BusFaults* bus = nullptr);
// Reads and parses a device file.
bool LoadDeviceFile(const std::string& path, std::vector<DeviceAttributes>* devices,
                    std::string* error, BusFaults* bus = nullptr);

// A device of `family` with number `deviceNumber` and every other attribute at its default.
DeviceAttributes DefaultDevice(DeviceFamily family, uint8_t deviceNumber);

}  // namespace quor::tessera::sim
