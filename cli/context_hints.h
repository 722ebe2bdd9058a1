#pragma once
// Advice that depends on more than the error code: what the server and the listing say about
// the device now. A device that does not answer (-102) while a firmware upgrade runs is not a
// wiring fault; -128 on a device that keeps no configuration is not a matter of waiting; -132
// without a read-back is a document refused before anything was written.
#include <string>

#include "cli/device_address.h"
#include "cli/diag_client.h"

namespace tessera::cli {

// True while the server runs a firmware upgrade ("progress" answers 0).
bool UpgradeRunning(DiagClient& client, const DeviceAddress& device);

// The hint for `answer` to a request about `device`, or empty when the code's usual hint
// stands. Asks the server; a failure to ask leaves the usual hint.
std::string ContextHint(DiagClient& client, const DeviceAddress& device, const Answer& answer);

// "kestrel-kx", as the user types a model.
std::string TypedModel(const DeviceAddress& device);

}  // namespace tessera::cli
