// "list": the device table, optionally after waiting for the listing to settle (the first
// seconds after the server starts, discovery is still handing out IDs and the list is empty or
// growing), or again whenever it changes (--watch).
#include <unistd.h>

#include <iostream>
#include <optional>
#include <thread>

#include "cli/clock_text.h"
#include "cli/commands.h"
#include "cli/device_listing.h"
#include "cli/device_table.h"
#include "cli/report.h"
#include "cli/stop_request.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

constexpr int64_t kPollPeriod_ms = 200;
// Discovery finds devices in bursts well under a second apart; this long without a change
// means it is done.
constexpr int64_t kStableFor_ms = 2000;
constexpr std::chrono::milliseconds kWatchPeriod{500};

const QueryParams kGetDevices = {{"action", "getdevices"}};

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

// Until Ctrl-C: on a terminal the screen shows the latest table; elsewhere each new table
// follows the last under a line with the time.
int WatchListing(const GlobalOptions& global, const ListOptions& options) {
  DiagClient client(global.server, global.timeout());
  StopRequest stop;
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  std::optional<nlohmann::json> shown;
  do {
    const Answer answer = client.get(kGetDevices);
    if (!answer.ok()) return ReportServerError(std::cerr, "list", answer);
    const nlohmann::json devices = DevicesOf(answer);
    if (shown && *shown == devices) continue;
    shown = devices;
    if (global.json) {
      PrintAnswer(std::cout, answer);
    } else {
      if (terminal) std::cout << "\x1b[H\x1b[2J";
      std::cout << "--- " << LocalClockTime() << ", " << devices.size() << " devices (Ctrl-C ends)\n"
                << FormatDeviceTable(devices, options.wide);
    }
    std::cout << std::flush;
  } while (!stop.waitFor(kWatchPeriod));
  return kExitOk;
}

}  // namespace

int RunList(const GlobalOptions& global, const ListOptions& options) {
  if (options.watch) return WatchListing(global, options);
  DiagClient client(global.server, global.timeout());
  const Answer answer = options.waitSeconds > 0 ? WaitForStableListing(client, options.waitSeconds)
                                                : client.get(kGetDevices);
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportServerError(std::cerr, "list", answer);
  if (global.json) return kExitOk;
  const nlohmann::json devices = DevicesOf(answer);
  std::cout << FormatDeviceTable(devices, options.wide);
  if (devices.empty())
    std::cerr << (options.waitSeconds > 0 ? "no devices listed\n"
                                          : "no devices listed yet; right after the server starts the "
                                            "list is empty, try `tessera-diag list --wait 10`\n");
  return kExitOk;
}

}  // namespace tessera::cli
