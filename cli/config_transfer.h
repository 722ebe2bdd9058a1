#pragma once
// One device's configuration document to and from a file; `config get`/`config set` and the
// backup and restore of every device share them.
#include <nlohmann/json.hpp>
#include <string>

#include "cli/backup_document.h"
#include "cli/commands.h"

namespace tessera::cli {

// Reads the device's configuration and writes it to `path`, or to standard output when `path`
// is empty: the plain document, or with `entry` (the device's listing entry) a backup file.
// Returns an exit status.
int FetchConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path, const nlohmann::json* entry = nullptr);

// Writes a configuration file's document to the device; the server writes it and reads it back.
// A backup of another model is refused before anything is sent. `from` names the file in
// messages.
int StoreConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const ConfigurationFile& file, const std::string& from);

}  // namespace tessera::cli
