#include "cli/device_listing.h"

#include <thread>

#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

constexpr std::chrono::milliseconds kListingPollPeriod{200};
constexpr const char kBootloaderStatus[] = "Bootloader";

}  // namespace

nlohmann::json DevicesOf(const Answer& answer) {
  const auto& document = answer.document;
  if (document.contains("DeviceArray") && document["DeviceArray"].is_array())
    return document["DeviceArray"];
  return nlohmann::json::array();
}

nlohmann::json FetchDevices(DiagClient& client) {
  return DevicesOf(client.get({{"action", "getdevices"}}));
}

std::string TextOf(const nlohmann::json& entry, const char* key) {
  if (!entry.is_object() || !entry.contains(key)) return "";
  const auto& value = entry[key];
  if (value.is_string()) return value.get<std::string>();
  return value.is_null() ? "" : value.dump();
}

DeviceAddress AddressOf(const nlohmann::json& entry) {
  const auto& id = entry.is_object() ? entry.value("ID", nlohmann::json()) : nlohmann::json();
  return {NormalizeModel(TextOf(entry, "Model")),
          id.is_number_unsigned() ? id.get<unsigned>() : kMaxDeviceNumber + 1};
}

std::optional<nlohmann::json> FindDevice(const nlohmann::json& devices, const DeviceAddress& device) {
  if (!devices.is_array()) return std::nullopt;
  for (const auto& entry : devices) {
    const DeviceAddress listed = AddressOf(entry);
    if (listed.id == device.id && listed.model == device.model) return entry;
  }
  return std::nullopt;
}

ListingWait WaitForDevices(DiagClient& client, const std::function<bool(const nlohmann::json&)>& holds,
                           std::chrono::milliseconds within) {
  const int64_t deadline = MonotonicMillis() + within.count();
  ListingWait wait;
  for (;;) {
    wait.devices = FetchDevices(client);
    wait.held = holds(wait.devices);
    if (wait.held || MonotonicMillis() >= deadline) return wait;
    std::this_thread::sleep_for(kListingPollPeriod);
  }
}

ListingWait WaitForDeviceAfterUpgrade(DiagClient& client, const DeviceAddress& device,
                                      const std::function<bool(const nlohmann::json& entry, bool seenAbsent)>& accepts,
                                      std::chrono::milliseconds within) {
  bool seenAbsent = false;
  return WaitForDevices(
      client,
      [&](const nlohmann::json& devices) {
        const auto entry = FindDevice(devices, device);
        if (!entry) seenAbsent = true;
        return entry && accepts(*entry, seenAbsent);
      },
      within);
}

bool RunsBootloader(const nlohmann::json& entry) {
  return TextOf(entry, "SoftStatus").rfind(kBootloaderStatus, 0) == 0;
}

}  // namespace tessera::cli
