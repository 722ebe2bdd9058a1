#pragma once
// The device listing as a table for people: one row per device, sorted by device number and
// model, columns as wide as their widest text.
#include <nlohmann/json.hpp>
#include <string>

namespace tessera::cli {

// `devices` is the "DeviceArray" of a "getdevices" answer; `wide` adds the serial number,
// vendor and manufacturing date.
std::string FormatDeviceTable(const nlohmann::json& devices, bool wide = false);

}  // namespace tessera::cli
