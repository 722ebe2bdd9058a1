#pragma once
// Requests a browser sends on behalf of a page of another site. The server has no
// authentication (the robot's network is its boundary), so any page a driver-station user
// visits could drive a motor with an <img> pointing at it; browsers mark such requests with an
// Origin or Referer that names the page. Requests without those headers (curl, the command-line
// client, the configuration tool) and other values ("null", file:, an application's own
// scheme: a desktop tool built on a web view) are not cross-site by this rule.
#include <cstdint>
#include <string>

#include "server/http_header_fields.h"

namespace quor::tessera::networking {

// Why the request must be refused: its Origin or Referer is an http:// or https:// URL whose
// host and port are not those of its Host. Empty when it may run.
std::string CrossSiteRefusal(const HttpHeaderFields& fields);

// Counts a refusal and logs it, at most one line a second; the refusals left out meanwhile are
// counted in the next line.
void LogCrossSiteRefusal(const std::string& reason);

// Requests refused so far by this process.
uint64_t CrossSiteRefusalCount();

}  // namespace quor::tessera::networking
