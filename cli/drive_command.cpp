// "drive MODEL ID --percent P --duration S": runs a motor controller at a fixed output. The
// server sends the control frame only for about 90 ms after each "control" request, so the
// request is repeated well within that; at the end, or on Ctrl-C, one neutral request stops
// the motor at once instead of waiting for that time-out.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "cli/commands.h"
#include "cli/report.h"
#include "cli/stop_request.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

constexpr int64_t kRepeatPeriod_ms = 20;
// Percent output: demand 0 of +-1023 is full output either way.
constexpr int kPercentOutputMode = 0;
constexpr double kFullOutputDemand = 1023.0;

QueryParams ControlQuery(const DeviceAddress& device, int demand) {
  QueryParams query = DeviceQuery("control", device);
  // Without a robot controller on the bus nothing enables the devices; the server can send the
  // enable frame itself.
  query.insert(query.end(), {{"controlen", "true"},
                             {"nonfrcroboten", "true"},
                             {"controlmode", std::to_string(kPercentOutputMode)},
                             {"demand0", std::to_string(demand)}});
  return query;
}

}  // namespace

int RunDrive(const GlobalOptions& global, const DriveOptions& options) {
  // The server sends the robot's enable frame itself, so nothing on the robot can stop this
  // motor but this program (or the time running out).
  std::cerr << "warning: drive enables the motor controller itself, bypassing the robot "
               "controller's enable; keep clear of the mechanism (Ctrl-C stops it)\n";
  DiagClient client(global.server, global.timeout());
  StopRequest stop;
  const int demand = static_cast<int>(std::lround(options.percent / 100.0 * kFullOutputDemand));
  const std::string what = "drive " + options.device.text();
  const int64_t end = MonotonicMillis() + static_cast<int64_t>(options.durationSeconds * 1000);
  Answer last;
  bool driven = false;
  int64_t next = MonotonicMillis();
  do {
    last = client.get(ControlQuery(options.device, demand));
    if (!last.ok()) break;
    if (!driven && !global.json)
      std::cout << what << " at " << options.percent << "% for " << options.durationSeconds
                << " s (Ctrl-C stops)\n"
                << std::flush;
    driven = true;
    // Requests start every period, however long each took; a late one does not cause a burst.
    next = std::max(next + kRepeatPeriod_ms, MonotonicMillis());
  } while (MonotonicMillis() < end &&
           !stop.waitFor(std::chrono::milliseconds(next - MonotonicMillis())));
  if (driven) {
    const Answer neutral = client.get(ControlQuery(options.device, 0));
    if (last.ok()) last = neutral;
  }
  if (global.json) PrintAnswer(std::cout, last);
  if (!last.ok()) return ReportServerError(std::cerr, what, last);
  if (!global.json) std::cout << what << ": stopped\n";
  return kExitOk;
}

}  // namespace tessera::cli
