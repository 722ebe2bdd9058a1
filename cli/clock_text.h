#pragma once
// The wall-clock times the client prints or stores.
#include <string>

namespace tessera::cli {

// Now in UTC as ISO 8601 ("2026-12-09T07:41:03Z"): what a backup records as its saving time.
std::string UtcTimestamp();
// Now on the local clock, "07:41:03": the time a watched listing was fetched.
std::string LocalClockTime();

}  // namespace tessera::cli
