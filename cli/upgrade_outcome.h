#pragma once
// Where a firmware upgrade left the device, read from the listing once the upgrade has ended:
// what a person needs to know next. A device left in its bootloader by a failed upgrade comes
// back by running the upgrade again; it is never power-cycled in the middle of one.
#include <chrono>
#include <iosfwd>
#include <string>

#include "cli/device_address.h"
#include "cli/diag_client.h"

namespace tessera::cli {

// Whether a failed upgrade's code means the device was already being changed (so its state is
// worth looking up); refusals before anything was sent to it are not.
bool UpgradeTouchedDevice(int error);

// Looks the device up in the listing for at most `within` (the listing lags the upgrade's end
// by a second or two while the devices take new IDs) and says where it is: in its bootloader
// (with how to bring it back: `rerun`), running its application, or not listed. Returns true
// when it runs its application.
bool ReportDeviceState(DiagClient& client, const DeviceAddress& device, std::ostream& out,
                       std::chrono::milliseconds within, const std::string& rerun);

}  // namespace tessera::cli
