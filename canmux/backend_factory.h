#pragma once
// Builds a bus backend from its textual form, as given to the host's --can option or in the
// TESSERA_CAN environment variable: "none", "socketcan:IFACE" or "udp_multicast[:GROUP[:PORT]]"
// (canmux/udp_multicast_backend.h). The simulated bus ("sim") is
// the host's business and not known here.
#include <memory>
#include <string>

#include "canmux/can_backend.h"

// nullptr with a one-line reason in `error` (when given) if the text is malformed or the
// backend cannot be opened.
std::shared_ptr<CanBackend> MakeCanBackend(const std::string& backendName, std::string* error);

// True when `backendName` has the form of one of the backends above (whether or not it opens).
bool IsCanBackendName(const std::string& backendName);
