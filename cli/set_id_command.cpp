// "set-id MODEL ID NEW": moves a device to another device number. Devices of one device type
// share the arbitration-ID space, so a number another device of the same type holds is refused
// unless --force (both would answer as one, and the listing would show one of them with "There
// are 2 devices with this Device ID."). The device types come from the client's own table of
// models (device_types.h): the listing names models only. Success is reported once the listing
// shows the device at its new number, so a command right after it finds the device there.
#include <iostream>

#include "cli/commands.h"
#include "cli/context_hints.h"
#include "cli/device_listing.h"
#include "cli/device_types.h"
#include "cli/report.h"

namespace tessera::cli {

namespace {

// Whether `other` answers on the same arbitration IDs as a `model` device would at its number:
// the same device type, or the same model when the client does not know the type.
bool SharesIds(const std::string& model, const DeviceAddress& other) {
  const auto type = DeviceTypeOf(model), otherType = DeviceTypeOf(other.model);
  return type && otherType ? *type == *otherType : model == other.model;
}

std::optional<nlohmann::json> Clash(const nlohmann::json& devices, const DeviceAddress& device,
                                    unsigned newId) {
  for (const auto& entry : devices) {
    const DeviceAddress listed = AddressOf(entry);
    if (listed.id == newId && !(listed.model == device.model && listed.id == device.id) &&
        SharesIds(device.model, listed))
      return entry;
  }
  return std::nullopt;
}

}  // namespace

int RunSetId(const GlobalOptions& global, const DeviceAddress& device, unsigned newId, bool force) {
  DiagClient client(global.server, global.timeout());
  const std::string what = "set-id " + device.text();
  if (newId != device.id) {
    const auto clash = Clash(FetchDevices(client), device, newId);
    if (clash && !force) {
      const auto type = DeviceTypeOf(device.model);
      return ReportFailure(
          std::cerr, what + ": device number " + std::to_string(newId) + " is taken by " +
                         TextOf(*clash, "Model") + " " + std::to_string(newId) + ", which " +
                         (type ? "has the same device type (" + std::to_string(*type) + ")"
                               : std::string("is the same model")) +
                         ": both would answer at " + std::to_string(newId) +
                         " as one device; --force moves it anyway");
    }
  }
  const Answer answer =
      client.get([&] {
        QueryParams query = DeviceQuery("setid", device);
        query.emplace_back("newid", std::to_string(newId));
        return query;
      }());
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok())
    return ReportServerError(std::cerr, what, answer, ContextHint(client, device, answer));
  const DeviceAddress moved{device.model, newId};
  const ListingWait wait = WaitForDevices(
      client,
      [&](const nlohmann::json& devices) {
        return FindDevice(devices, moved) && (newId == device.id || !FindDevice(devices, device));
      },
      global.timeout());
  if (!wait.held)
    return ReportFailure(std::cerr, what + ": the server set number " + std::to_string(newId) +
                                        ", but the listing does not show the device there after " +
                                        SecondsText(global.timeout()) +
                                        "; run `tessera-diag list`");
  if (!global.json)
    std::cout << device.text() << ": device number set to " << newId << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
