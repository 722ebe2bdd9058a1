// "list": the device table, optionally after waiting for the listing to settle (the first
// seconds after the server starts, discovery is still handing out IDs and the list is empty or
// growing).
#include <iostream>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/device_table.h"
#include "cli/report.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

constexpr int64_t kPollPeriod_ms = 200;
// Discovery finds devices in bursts well under a second apart; this long without a change
// means it is done.
constexpr int64_t kStableFor_ms = 2000;

const QueryParams kGetDevices = {{"action", "getdevices"}};

nlohmann::json DevicesOf(const Answer& answer) {
  const auto& document = answer.document;
  if (document.contains("DeviceArray") && document["DeviceArray"].is_array())
    return document["DeviceArray"];
  return nlohmann::json::array();
}

// Polls until a non-empty listing stayed the same for kStableFor_ms, or the wait is over; a
// server that is still starting (not yet listening) is waited for too.
Answer WaitForStableListing(DiagClient& client, double waitSeconds) {
  const int64_t deadline = MonotonicMillis() + static_cast<int64_t>(waitSeconds * 1000);
  std::optional<Answer> last;
  int64_t lastChange = MonotonicMillis();
  for (;;) {
    try {
      Answer answer = client.get(kGetDevices);
      if (!last || DevicesOf(*last) != DevicesOf(answer)) lastChange = MonotonicMillis();
      last = std::move(answer);
    } catch (const TransportError&) {
      if (MonotonicMillis() >= deadline) throw;
    }
    const int64_t now = MonotonicMillis();
    const bool settled = last && !DevicesOf(*last).empty() && now - lastChange >= kStableFor_ms;
    if (last && (settled || !last->ok() || now >= deadline)) return *last;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollPeriod_ms));
  }
}

}  // namespace

int RunList(const GlobalOptions& global, double waitSeconds) {
  DiagClient client(global.server, global.timeout());
  const Answer answer =
      waitSeconds > 0 ? WaitForStableListing(client, waitSeconds) : client.get(kGetDevices);
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportServerError(std::cerr, "list", answer);
  if (global.json) return kExitOk;
  const nlohmann::json devices = DevicesOf(answer);
  std::cout << FormatDeviceTable(devices);
  if (devices.empty())
    std::cerr << (waitSeconds > 0 ? "no devices listed\n"
                                  : "no devices listed yet; right after the server starts the "
                                    "list is empty, try `tessera-diag list --wait 10`\n");
  return kExitOk;
}

}  // namespace tessera::cli
