#pragma once
// Where the server is, as the user writes it: "HOST", "HOST:PORT", "[IPV6]:PORT" or a bare IPv6
// address ("::1").
#include <string>

#include "cli/diag_client.h"

namespace tessera::cli {

// Reads `text` into `address`; a port in the text replaces address.port. False with `error`
// set when the text names no host or its port is not 1 to 65535.
bool ParseServerAddress(const std::string& text, ServerAddress& address, std::string& error);

// Why a TCP connection to `address` cannot be made, as a person reads it: "no such host (…)",
// "connection refused (…)", "timed out after 10 s", or the system's reason; empty when a
// connection can be made now.
std::string WhyNoConnection(const ServerAddress& address, std::chrono::milliseconds timeout);

}  // namespace tessera::cli
