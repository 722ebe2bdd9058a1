// "upgrade MODEL ID FILE": uploads a firmware file (or names one in the server's search
// directory), shows the upgrade's progress, and ends with what the listing then shows of the
// device: the new firmware version, or where a failed upgrade left it.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/context_hints.h"
#include "cli/device_listing.h"
#include "cli/local_file.h"
#include "cli/progress_display.h"
#include "cli/progress_poller.h"
#include "cli/report.h"
#include "cli/stop_request.h"
#include "cli/upgrade_outcome.h"
#include "cli/upload_file_name.h"
#include "device/error_codes.h"
#include "firmware/bfl_decoder.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

// The server answers the upload when the upgrade has ended: erasing and writing every sector
// takes minutes on a slow bus, so the upload waits far longer than an ordinary request.
constexpr std::chrono::minutes kUpgradeAnswerTimeout{15};
// How long a failed upgrade's device is looked for in the listing.
constexpr std::chrono::seconds kStateLookup{5};
constexpr std::chrono::milliseconds kStopCheckPeriod{100};
constexpr int kNotUpdating = -126;

struct FirmwareVersion {
  unsigned major = 0, minor = 0;
  std::string text() const { return std::to_string(major) + "." + std::to_string(minor); }
};

// The version a firmware file's header names; nothing for a file the decoder refuses (the
// server then says why).
std::optional<FirmwareVersion> VersionOfFile(const std::string& content) {
  const BflDecoder decoder(reinterpret_cast<const uint8_t*>(content.data()),
                           static_cast<uint32_t>(content.size()), BflDecoder::kAnyChipId);
  if (decoder.GetHealth() != 0) return std::nullopt;
  const unsigned version = decoder.GetVersion();
  return FirmwareVersion{version >> 8u, version & 0xFFu};
}

// "21.0" and "22.1.0.3" against a file's major.minor, numerically ("1.05" is 1.5).
bool ListedVersionIs(const std::string& listed, const FirmwareVersion& version) {
  unsigned major = 0, minor = 0;
  return std::sscanf(listed.c_str(), "%u.%u", &major, &minor) == 2 && major == version.major &&
         minor == version.minor;
}

int ReportUpgradeFailure(const std::string& what, const Answer& answer, const std::string& hint) {
  ReportServerError(std::cerr, what, answer, hint);
  const std::string message = answer.document.value("UpdateMessage", std::string());
  if (!message.empty()) std::cerr << "server: " << message << "\n";
  return kExitFailed;
}

std::string FollowCommand(const DeviceAddress& device) {
  return "tessera-diag progress " + TypedModel(device) + " " + std::to_string(device.id);
}

// The upgrade request (upload or named file) on a thread of its own, so that Ctrl-C can end
// the wait for its answer.
class UpgradeRequest {
 public:
  UpgradeRequest(const GlobalOptions& global, const DeviceAddress& device, const FileChoice& file,
                 const UploadFile& upload)
      : client_(global.server, global.timeout()) {
    const auto timeout = std::max<std::chrono::milliseconds>(kUpgradeAnswerTimeout, global.timeout());
    QueryParams query = DeviceQuery("fieldupgrade", device);
    thread_ = std::thread([this, query, timeout, file, upload]() mutable {
      try {
        if (file.serverFile.empty()) {
          answer_ = client_.upload(query, upload, timeout);
        } else {
          query.emplace_back("file", file.serverFile);
          answer_ = client_.get(query, timeout);
        }
      } catch (const TransportError& error) {
        failure_ = error.what();
      }
      done_ = true;
    });
  }
  ~UpgradeRequest() { cancel(); }

  bool done() const { return done_; }
  void cancel() {
    if (!thread_.joinable()) return;
    if (!done_) client_.cancel();
    thread_.join();
  }
  // After done(): the answer, or a TransportError.
  Answer answer() {
    cancel();
    if (!failure_.empty()) throw TransportError(failure_);
    return answer_;
  }

 private:
  DiagClient client_;
  std::atomic<bool> done_{false};
  Answer answer_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace

int RunUpgrade(const GlobalOptions& global, const DeviceAddress& device, const FileChoice& file) {
  const std::string what = "upgrade " + device.text();
  UploadFile upload;
  std::optional<FirmwareVersion> version;
  if (file.serverFile.empty()) {
    upload.name = FileNameOf(file.localPath);
    std::string error;
    if (!ReadWholeFile(file.localPath, upload.content, error))
      return ReportFailure(std::cerr, file.localPath + ": " + error);
    version = VersionOfFile(upload.content);
  }
  const std::string rerun = "tessera-diag upgrade " + TypedModel(device) + " " +
                            std::to_string(device.id) + " " +
                            (file.serverFile.empty() ? file.localPath : "--server-file " + file.serverFile);

  DiagClient client(global.server, global.timeout());
  // A second upgrade would wait behind the first and show the first one's progress as its own.
  const Answer state = client.get(DeviceQuery("progress", device));
  if (state.ok())
    return ReportFailure(std::cerr, what + ": a firmware upgrade is already running on the "
                                           "server; `" + FollowCommand(device) + "` follows it");
  if (state.error != kNotUpdating) return ReportServerError(std::cerr, what, state);

  // With --json standard output carries only the answer, so the progress goes to the error
  // stream.
  std::ostream& progressOut = global.json ? std::cerr : std::cout;
  const int progressFd = global.json ? STDERR_FILENO : STDOUT_FILENO;
  ProgressDisplay display(progressOut, TerminalWidth(progressFd), "upgrade " + device.text());
  const int64_t started = MonotonicMillis();
  display.show(0, 0);

  StopRequest stop;
  ProgressPoller poller(global.server, global.timeout(), device, display, started);
  UpgradeRequest request(global, device, file, upload);
  while (!request.done() && !stop.waitFor(kStopCheckPeriod)) {
  }
  if (!request.done()) {
    poller.stop();
    display.finish(poller.lastPercent(), MonotonicMillis() - started);
    // The server goes on with an upgrade whose file it has, whoever waits for its answer.
    const bool running = UpgradeRunning(client, device);
    request.cancel();
    std::cerr << what << ": interrupted; "
              << (running ? "the upgrade goes on in the server (stopping this program does not "
                            "stop it): `" + FollowCommand(device) + "` follows it"
                          : std::string("no upgrade is running on the server (the file may not "
                                        "have reached it)"))
              << "\n";
    return kExitInterrupted;
  }
  poller.stop();
  Answer answer;
  try {
    answer = request.answer();
  } catch (const TransportError&) {
    display.finish(poller.lastPercent(), MonotonicMillis() - started);
    throw;
  }
  const int64_t elapsed = MonotonicMillis() - started;
  display.finish(answer.ok() ? 100 : poller.lastPercent(), elapsed);

  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) {
    ReportUpgradeFailure(what, answer,
                         answer.error == QUOR_DI_NoBflFile && !file.serverFile.empty()
                             ? MissingServerFileHint(file.serverFile)
                             : "");
    if (UpgradeTouchedDevice(answer.error))
      ReportDeviceState(client, device, std::cerr, std::min<std::chrono::milliseconds>(kStateLookup, global.timeout()), rerun);
    return kExitFailed;
  }
  // The listing shows the new firmware a second or two after the answer, once the device has
  // started it and been found again. Without the file's version (a file in the server's
  // directory) an entry seen after the device left the listing is the new one.
  const ListingWait wait = WaitForDeviceAfterUpgrade(
      client, device,
      [&](const nlohmann::json& entry, bool seenAbsent) {
        return !RunsBootloader(entry) &&
               (version ? ListedVersionIs(TextOf(entry, "CurrentVers"), *version) : seenAbsent);
      },
      global.timeout());
  const auto entry = FindDevice(wait.devices, device);
  if (!wait.held && (version || !entry || RunsBootloader(*entry)))
    return ReportFailure(std::cerr, what + ": the server reports the firmware written, but after " +
                                        SecondsText(global.timeout()) + " the listing shows " +
                                        (entry ? TextOf(*entry, "CurrentVers") + " (" +
                                                     TextOf(*entry, "SoftStatus") + ")"
                                               : std::string("no such device")) +
                                        (version ? ", not " + version->text() : std::string()));
  if (!global.json)
    std::cout << device.text() << ": firmware "
              << (file.serverFile.empty() ? upload.name : file.serverFile) << " written in "
              << FormatElapsed(elapsed) << "; it runs " << TextOf(*entry, "CurrentVers") << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
