#pragma once
// Waiting for a device listing ("getdevices") that holds what a test expects.
#include <chrono>

#include <nlohmann/json.hpp>

#include "tests/support/http_client.h"
#include "tests/support/wait_until.h"

namespace tessera_test {

// The "DeviceArray" of a "getdevices" answer; an empty array when the answer has none.
inline nlohmann::json DeviceArrayOf(const nlohmann::json& answer) {
  if (answer.is_discarded() || !answer.is_object() || !answer.contains("DeviceArray"))
    return nlohmann::json::array();
  return answer["DeviceArray"];
}

inline nlohmann::json FetchListing(int port) {
  return DeviceArrayOf(GetJson(port, "/?action=getdevices"));
}

// Fetches the listing (`fetch` returns a device array) until `holds` accepts it or the deadline
// passes; the last listing fetched.
template <typename Fetch, typename Holds>
nlohmann::json WaitForListing(Fetch fetch, Holds holds, std::chrono::steady_clock::duration deadline) {
  nlohmann::json listing;
  WaitUntil(
      [&] {
        listing = fetch();
        return holds(listing);
      },
      deadline, std::chrono::milliseconds(100));
  return listing;
}

// The same through the server's HTTP port.
template <typename Holds>
nlohmann::json WaitForListing(int port, Holds holds, std::chrono::steady_clock::duration deadline) {
  return WaitForListing([port] { return FetchListing(port); }, holds, deadline);
}

}  // namespace tessera_test
