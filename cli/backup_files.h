#pragma once
// A configuration backup is a folder of one document per device, each named after its device
// ("kestrel-kx-1.json"), so `config set` takes any of them as it is.
#include <optional>
#include <string>

#include "cli/device_address.h"

namespace tessera::cli {

std::string BackupFileName(const DeviceAddress& device);

// The device a backup file is named after; nothing for other names.
std::optional<DeviceAddress> DeviceOfBackupFile(const std::string& fileName);

}  // namespace tessera::cli
