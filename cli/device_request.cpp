// Commands that are one request to one device: blink, set-name, defaults, calibrate, and the
// self-test, whose answer carries a text report.
#include <unistd.h>

#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/context_hints.h"
#include "cli/report.h"

namespace tessera::cli {

namespace {

// The one request and its summary; a failure is reported with the advice that fits the
// server's state now.
int SendDeviceRequest(DiagClient& client, const GlobalOptions& global, const DeviceRequest& request) {
  QueryParams params = DeviceQuery(request.action, request.device);
  params.insert(params.end(), request.extra.begin(), request.extra.end());
  const Answer answer = client.get(params);
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok())
    return ReportServerError(std::cerr, request.command + " " + request.device.text(), answer,
                             ContextHint(client, request.device, answer));
  if (!global.json) std::cout << request.device.text() << ": " << request.done << "\n";
  return kExitOk;
}

}  // namespace

int RunDeviceRequest(const GlobalOptions& global, const DeviceRequest& request) {
  DiagClient client(global.server, global.timeout());
  return SendDeviceRequest(client, global, request);
}

int RunDefaults(const GlobalOptions& global, const DeviceAddress& device, bool confirmed) {
  if (!confirmed) {
    // A script must say so: nobody is there to answer.
    if (isatty(STDIN_FILENO) == 0) {
      std::cerr << "tessera-diag: defaults " << device.text()
                << ": give --yes to restore the factory defaults without a question\n";
      return kExitUsage;
    }
    std::cerr << "Restore the factory defaults of " << device.text()
              << "? Its configuration is replaced. [y/N] " << std::flush;
    std::string reply;
    std::getline(std::cin, reply);
    if (reply != "y" && reply != "Y" && reply != "yes") {
      std::cerr << "nothing changed\n";
      return kExitFailed;
    }
  }
  DiagClient client(global.server, global.timeout());
  return SendDeviceRequest(client, global,
                           {"defaults", device, "factorydef", {}, "factory defaults restored"});
}

int RunSelfTest(const GlobalOptions& global, const DeviceAddress& device) {
  DiagClient client(global.server, global.timeout());
  const Answer answer = client.get(DeviceQuery("selftest", device));
  if (global.json) {
    PrintAnswer(std::cout, answer);
  } else {
    // A failed self-test still explains itself in its text (no status frames, unknown device).
    const auto text = answer.document.value("SelfTest", std::string());
    std::cout << text;
    if (!text.empty() && text.back() != '\n') std::cout << '\n';
  }
  return answer.ok() ? kExitOk
                     : ReportServerError(std::cerr, "selftest " + device.text(), answer,
                                         ContextHint(client, device, answer));
}

}  // namespace tessera::cli
