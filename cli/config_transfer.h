#pragma once
// One device's configuration document to and from a file; `config get`/`config set` and the
// backup and restore of every device share them.
#include <string>

#include "cli/commands.h"

namespace tessera::cli {

// Reads the device's configuration and writes it to `path`, or to standard output when `path`
// is empty. Returns an exit status.
int FetchConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path);

// Uploads the document in `path` to the device; the server writes it and reads it back.
int StoreConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path);

}  // namespace tessera::cli
