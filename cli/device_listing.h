#pragma once
// The server's device listing ("getdevices") as the commands read it: the entry of one device,
// and waiting until the listing shows what a command changed (the listing is refreshed every
// 100 ms, and a device that changed its number or firmware re-appears only once discovery has
// found it again).
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/device_address.h"
#include "cli/diag_client.h"

namespace tessera::cli {

// The "DeviceArray" of a listing answer; an empty array when it has none.
nlohmann::json DevicesOf(const Answer& answer);
// The listing now; throws TransportError like every request.
nlohmann::json FetchDevices(DiagClient& client);
// The entry listed for `device` (its model compared as the server compares it), if any.
std::optional<nlohmann::json> FindDevice(const nlohmann::json& devices, const DeviceAddress& device);
// A listed entry's address.
DeviceAddress AddressOf(const nlohmann::json& entry);
std::string TextOf(const nlohmann::json& entry, const char* key);

// Asks for the listing every 200 ms until `holds` accepts it or `within` has passed; the last
// listing fetched, and whether it held.
struct ListingWait {
  nlohmann::json devices;
  bool held = false;
};
ListingWait WaitForDevices(DiagClient& client, const std::function<bool(const nlohmann::json&)>& holds,
                           std::chrono::milliseconds within);

// The same for one device after an upgrade: every upgrade ends with all devices taking new IDs,
// so the device leaves the listing for a moment, and an entry seen after it was missing is a
// fresh one. `accepts` gets the device's entry and whether it was missing since the wait began.
ListingWait WaitForDeviceAfterUpgrade(DiagClient& client, const DeviceAddress& device,
                                      const std::function<bool(const nlohmann::json& entry, bool seenAbsent)>& accepts,
                                      std::chrono::milliseconds within);

// What a listing's "SoftStatus" says of a device that runs its bootloader instead of its
// application (the status text is cut at 63 characters, so only its start is relied upon).
bool RunsBootloader(const nlohmann::json& entry);

}  // namespace tessera::cli
