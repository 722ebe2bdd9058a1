// "upgrade MODEL ID FILE": uploads a firmware file and shows the upgrade's progress.
#include <unistd.h>

#include <iostream>

#include "cli/commands.h"
#include "cli/local_file.h"
#include "cli/progress_poller.h"
#include "cli/report.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

// The server answers the upload when the upgrade has ended: erasing and writing every sector
// takes minutes on a slow bus, so the upload waits far longer than an ordinary request.
constexpr std::chrono::minutes kUpgradeAnswerTimeout{15};

int ReportUpgradeFailure(const std::string& what, const Answer& answer) {
  ReportServerError(std::cerr, what, answer);
  const std::string message = answer.document.value("UpdateMessage", std::string());
  if (!message.empty()) std::cerr << "server: " << message << "\n";
  return kExitFailed;
}

}  // namespace

int RunUpgrade(const GlobalOptions& global, const DeviceAddress& device, const std::string& file) {
  UploadFile upload{FileNameOf(file), {}};
  std::string error;
  if (!ReadWholeFile(file, upload.content, error))
    return ReportFailure(std::cerr, file + ": " + error);

  // With --json standard output carries only the answer, so the progress goes to the error
  // stream.
  std::ostream& progressOut = global.json ? std::cerr : std::cout;
  const int progressFd = global.json ? STDERR_FILENO : STDOUT_FILENO;
  ProgressDisplay display(progressOut, isatty(progressFd) != 0, "upgrade " + device.text());
  const int64_t started = MonotonicMillis();
  display.show(0, 0);

  DiagClient uploader(global.server, global.timeout());
  ProgressPoller poller(global.server, global.timeout(), device, display, started);
  const auto timeout = std::max<std::chrono::milliseconds>(kUpgradeAnswerTimeout, global.timeout());
  Answer answer;
  try {
    answer = uploader.upload(DeviceQuery("fieldupgrade", device), upload, timeout);
  } catch (const TransportError&) {
    poller.stop();
    display.finish(poller.lastPercent(), MonotonicMillis() - started);
    throw;
  }
  poller.stop();
  const int64_t elapsed = MonotonicMillis() - started;
  display.finish(answer.ok() ? 100 : poller.lastPercent(), elapsed);

  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportUpgradeFailure("upgrade " + device.text(), answer);
  if (!global.json)
    std::cout << device.text() << ": firmware " << upload.name << " written in "
              << FormatElapsed(elapsed) << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
