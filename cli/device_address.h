#pragma once
// A device as the user names it on the command line: its model, written "kestrel-kx" or
// "Kestrel KX" alike, and its device number.
#include <string>

#include "cli/diag_client.h"

namespace tessera::cli {

// Device numbers that address one device (63 is the bus's broadcast number).
constexpr unsigned kMaxDeviceNumber = 62;

struct DeviceAddress {
  std::string model;  // as the server compares it: lower case, words separated by spaces
  unsigned id = 0;

  std::string text() const { return model + " " + std::to_string(id); }
};

// Lower-cases and turns '-' and '_' into spaces, so shells need no quoting.
std::string NormalizeModel(const std::string& typed);

// The query of `action` addressed to `device`, before any further parameters.
QueryParams DeviceQuery(const std::string& action, const DeviceAddress& device);

}  // namespace tessera::cli
