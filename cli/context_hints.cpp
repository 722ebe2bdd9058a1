#include "cli/context_hints.h"

#include "cli/device_listing.h"

namespace tessera::cli {

namespace {
constexpr int kDeviceDidNotAnswer = -102;
constexpr int kNoConfiguration = -128;
constexpr int kConfigurationMismatch = -132;
}  // namespace

std::string TypedModel(const DeviceAddress& device) {
  std::string typed = device.model;
  for (char& c : typed)
    if (c == ' ') c = '-';
  return typed;
}

bool UpgradeRunning(DiagClient& client, const DeviceAddress& device) {
  try {
    return client.get(DeviceQuery("progress", device)).ok();
  } catch (const TransportError&) {
    return false;
  }
}

std::string ContextHint(DiagClient& client, const DeviceAddress& device, const Answer& answer) {
  try {
    if (answer.error == kDeviceDidNotAnswer) {
      const std::string typed = TypedModel(device) + " " + std::to_string(device.id);
      if (UpgradeRunning(client, device))
        return "a firmware upgrade is running on the server; devices may not answer until it has "
               "ended (`tessera-diag progress " + typed + "` follows it)";
      const auto entry = FindDevice(FetchDevices(client), device);
      if (!entry)
        return "the device has left the listing since (after a firmware upgrade or a restart "
               "devices take new IDs); `tessera-diag list --wait 10` shows whether it is back";
      if (RunsBootloader(*entry))
        return "the device runs its bootloader, without an application; `tessera-diag upgrade " +
               typed + " FILE` brings one back";
    }
    if (answer.error == kNoConfiguration) {
      const auto entry = FindDevice(FetchDevices(client), device);
      if (entry && entry->is_object() && entry->value("SupportsConfigs", true) == false)
        return "this device has no configuration (its listing says \"SupportsConfigs\": false)";
    }
    // Without a read-back the server refused the document before sending anything.
    if (answer.error == kConfigurationMismatch && answer.document.value("Device", nlohmann::json()).is_null())
      return "nothing was written: the document holds a value its field cannot hold (a negative gain, "
             "current or time, an output beyond full scale, a ramp beyond 10.23 s, ...); the server's "
             "log names it";
  } catch (const TransportError&) {
  }
  return "";
}

}  // namespace tessera::cli
