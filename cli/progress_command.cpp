// "progress MODEL ID": follows a firmware upgrade that runs on the server (started by another
// tessera-diag, a browser or a script, or one whose tessera-diag was interrupted), and ends
// with where it left the device.
#include <unistd.h>

#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "cli/context_hints.h"
#include "cli/progress_display.h"
#include "cli/report.h"
#include "cli/stop_request.h"
#include "cli/upgrade_outcome.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

constexpr std::chrono::milliseconds kPollPeriod{250};

std::optional<int> PercentOf(const Answer& answer) {
  if (!answer.ok() || !answer.document.contains("Progress") ||
      !answer.document["Progress"].is_number_integer())
    return std::nullopt;
  return answer.document["Progress"].get<int>();
}

}  // namespace

int RunProgress(const GlobalOptions& global, const DeviceAddress& device) {
  DiagClient client(global.server, global.timeout());
  const std::string what = "progress " + device.text();
  Answer answer = client.get(DeviceQuery("progress", device));
  if (global.json) PrintAnswer(std::cout, answer);
  auto percent = PercentOf(answer);
  if (!percent) return ReportServerError(std::cerr, what, answer);

  std::ostream& out = global.json ? std::cerr : std::cout;
  ProgressDisplay display(out, TerminalWidth(global.json ? STDERR_FILENO : STDOUT_FILENO),
                          "upgrade " + device.text());
  const int64_t started = MonotonicMillis();
  int last = *percent;
  display.show(last, 0);
  StopRequest stop;
  while (!stop.waitFor(kPollPeriod)) {
    answer = client.get(DeviceQuery("progress", device));
    percent = PercentOf(answer);
    if (!percent) break;  // "not updating": the upgrade has ended
    last = *percent;
    display.show(last, MonotonicMillis() - started);
  }
  display.finish(last, MonotonicMillis() - started);
  if (stop.requested()) {
    std::cerr << what << ": stopped following; the upgrade goes on in the server\n";
    return kExitInterrupted;
  }
  if (global.json) PrintAnswer(std::cout, answer);
  out << "upgrade " << device.text() << " has ended\n";
  const std::string rerun =
      "tessera-diag upgrade " + TypedModel(device) + " " + std::to_string(device.id) + " FILE";
  return ReportDeviceState(client, device, out, global.timeout(), rerun) ? kExitOk : kExitFailed;
}

}  // namespace tessera::cli
