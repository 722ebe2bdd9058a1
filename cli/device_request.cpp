// Commands that are one request to one device: blink, set-id, set-name, defaults, calibrate,
// and the self-test, whose answer carries a text report.
#include <iostream>

#include "cli/commands.h"
#include "cli/report.h"

namespace tessera::cli {

int RunDeviceRequest(const GlobalOptions& global, const DeviceRequest& request) {
  DiagClient client(global.server, global.timeout());
  QueryParams params = DeviceQuery(request.action, request.device);
  params.insert(params.end(), request.extra.begin(), request.extra.end());
  const Answer answer = client.get(params);
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok())
    return ReportServerError(std::cerr, request.command + " " + request.device.text(), answer);
  if (!global.json) std::cout << request.device.text() << ": " << request.done << "\n";
  return kExitOk;
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
  return answer.ok() ? kExitOk : ReportServerError(std::cerr, "selftest " + device.text(), answer);
}

}  // namespace tessera::cli
