#include "server/tessera_diagnostics_server.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "device/can_device_interface1.h"
#include "device/error_codes.h"
#include "runtime/diag_print.h"
#include "runtime/monotonic_clock.h"
#include "runtime/version.h"

namespace quor::tessera::diagnostics {

namespace dev = CANDeviceInterface1;

TesseraDiagnosticsServer& TesseraDiagnosticsServer::GetInstance() {
  return GetInstance(kDefaultPort, kDefaultStartDelaySeconds);
}

TesseraDiagnosticsServer& TesseraDiagnosticsServer::GetInstance(int32_t port,
                                                                int32_t startDelaySeconds) {
  static TesseraDiagnosticsServer instance(port, startDelaySeconds);
  return instance;
}

TesseraDiagnosticsServer::TesseraDiagnosticsServer(int32_t port, int32_t startDelaySeconds)
    : port_(port) {
  // The engine starts with the server, not when the library loads, so that the dynamic-ID
  // server's start-up frames go to the bus the host chose before creating the server.
  dev::restart();
  SetSecondsToStart(startDelaySeconds);
}

TesseraDiagnosticsServer::~TesseraDiagnosticsServer() { SetSecondsToStart(-1); }

void TesseraDiagnosticsServer::SetSecondsToStart(int32_t seconds) {
  // Saturate: a very long delay must not wrap into a negative one, which would mean "stop".
  const int64_t wideTicks = static_cast<int64_t>(seconds) * 1000 / tickPeriodMs_;
  const int32_t ticks = static_cast<int32_t>(
      std::clamp<int64_t>(wideTicks, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()));
  if (!backgroundThread_.joinable()) {
    if (ticks < 0) return;
    startCountdown_ = ticks;
    refreshCounter_ = -1;
    StartThread();
    return;
  }
  if (ticks >= 0) return;  // a running server's delay cannot be changed
  const bool clean = StopThread();
  if (refreshCounter_ >= 0) {
    CloseServer();
    refreshCounter_ = -1;
  }
  startCountdown_ = ticks;
  // Only now is it true: a firmware upgrade may have held the close up.
  std::stringstream message;
  message << (clean ? "Diagnostic server shutdown cleanly" : "Diagnostic server could NOT shutdown cleanly");
  LogStream(message, !clean);
}

void TesseraDiagnosticsServer::SetServerPort(int32_t port) {
  std::lock_guard<std::recursive_mutex> hold(serverLock_);
  if (refreshCounter_ >= 0) {
    CloseServer();
    refreshCounter_ = -1;
  }
  port_ = port;
  wake_.Signal();  // listen on the new port at the next tick, not at the next refresh
}

void TesseraDiagnosticsServer::StartThread() {
  if (backgroundThread_.joinable()) return;
  stopRequest_.Clear();
  stopped_.Clear();
  wake_.Clear();
  backgroundThread_ = std::thread(&TesseraDiagnosticsServer::Background_s, this);
}

bool TesseraDiagnosticsServer::StopThread() {
  if (!backgroundThread_.joinable()) return true;
  stopRequest_.Signal();
  wake_.Signal();
  const bool clean = stopped_.WaitForSignalSet(200, 1);
  backgroundThread_.join();
  return clean;
}

bool TesseraDiagnosticsServer::IsRunning() const { return backgroundThread_.joinable(); }

void TesseraDiagnosticsServer::InitServer() {
  // A restarted server must work as well as a fresh one: bring the device interface's worker
  // back if an earlier close disposed of it.
  dev::restart();
  dispatcher_.OpenLiveData();
  dispatcher_.setup(port_);
  const int32_t listening = dispatcher_.boundPort();
  std::stringstream message;
  message << "Diagnostic Server " << version::GetDiagServerVersion();
  // The server counts as running either way; the line must not claim a port nobody listens on.
  if (listening >= 0) {
    message << " running on port: " << listening << "\n";
  } else {
    message << " could not listen on " << dispatcher_.setupError() << "\n";
  }
  LogStream(message, listening < 0);
}

void TesseraDiagnosticsServer::CloseServer() {
  // First, so no control frame follows the stop, and no stream or device outlives it.
  dispatcher_.CloseLiveData();
  int percent = 0;
  bool upgrading = false;
  dev::checkUpdateProgress(&percent, &upgrading);
  if (upgrading) {
    std::stringstream message;
    message << "stopping the firmware upgrade in progress (at " << percent
            << " %) at its next sector boundary; a device whose flash was erased waits in its "
               "bootloader for the next upgrade";
    LogStream(message, false);
  }
  // Ends an upgrade before the worker it needs goes.
  dev::dispose();
  dispatcher_.detach();
}

void TesseraDiagnosticsServer::Background_s(TesseraDiagnosticsServer* server) {
  server->Background();
}

// The design ticks every 10 ms, but most ticks only count: the countdown, and the nine between
// two refreshes. Those are slept through in one wait, so an idle server wakes once per refresh.
void TesseraDiagnosticsServer::Background() {
  int32_t ticks = 1;
  for (;;) {
    const int32_t passed = SleepTicks(ticks);
    if (passed < 0) break;
    ticks = Tick(passed);
  }
  stopped_.Signal();
}

int32_t TesseraDiagnosticsServer::SleepTicks(int32_t ticks) {
  const int64_t start_ms = runtime::MonotonicMillis();
  const int64_t end_ms = start_ms + static_cast<int64_t>(ticks) * tickPeriodMs_;
  constexpr int64_t kLongestWait_ms = std::numeric_limits<int32_t>::max();
  for (;;) {
    if (stopRequest_.WaitForSignalSet(0)) return -1;
    const int64_t left_ms =
        ticks == kNoWorkDue ? kLongestWait_ms : end_ms - runtime::MonotonicMillis();
    if (left_ms <= 0) break;
    if (wake_.WaitForSignalSet(static_cast<int32_t>(std::min(left_ms, kLongestWait_ms)))) {
      wake_.Clear();  // what woke it is looked at after the clear, so no wake-up is lost
      break;
    }
  }
  if (stopRequest_.WaitForSignalSet(0)) return -1;
  const int64_t passed = (runtime::MonotonicMillis() - start_ms) / tickPeriodMs_;
  return static_cast<int32_t>(std::clamp<int64_t>(passed, 1, std::numeric_limits<int32_t>::max()));
}

int32_t TesseraDiagnosticsServer::Tick(int32_t passed) {
  if (startCountdown_ > 0) {
    startCountdown_ = std::max(0, startCountdown_ - passed);
    return std::max(1, startCountdown_);
  }
  if (startCountdown_ < 0) return kNoWorkDue;
  // A port change may hold the lock while it waits for open connections to end; the next
  // tick tries again after looking at the stop request, instead of waiting with the lock.
  std::unique_lock<std::recursive_mutex> hold(serverLock_, std::try_to_lock);
  if (!hold.owns_lock()) return 1;
  if (refreshCounter_ < 0) {
    InitServer();
    refreshCounter_ = 0;
    passed = 1;  // the ticks before belonged to the old port
  }
  refreshCounter_ = std::min(refreshCounter_ + passed, kTicksPerRefresh);
  if (refreshCounter_ >= kTicksPerRefresh) {
    refreshCounter_ = 0;
    RefreshDeviceList();
  }
  return kTicksPerRefresh - refreshCounter_;
}

void TesseraDiagnosticsServer::RefreshDeviceList() {
  // Both give up when a stop is requested, so StopThread never waits out a device operation.
  const int known = dev::getNumberOfDevices(stopRequest_);
  const int listed = dev::getListOfDevices(deviceList_, kDeviceListCapacity, stopRequest_);
  if (listed == QUOR_DI_ListingCancelled) return;
  diag_printf("num1=%i\r\n", known);
  diag_printf("num2=%i\r\n", listed);
  if (listed > 0) diag_printf("%s %x\n", deviceList_[0].name, deviceList_[0].arbId);
  // The system does not measure bus utilisation.
  dispatcher_.Update(deviceList_, listed, -1.0);
}

}  // namespace quor::tessera::diagnostics
