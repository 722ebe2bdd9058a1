#pragma once
// The process-wide server: a background thread that waits out a start delay, brings up the
// HTTP server, and every 100 ms copies the device list into the dispatcher's cache.
#include <cstdint>
#include <mutex>
#include <sstream>
#include <thread>

#include "device/device_descriptor.h"
#include "runtime/event.h"
#include "server/json_server.h"

namespace quor::tessera::diagnostics {

class TesseraDiagnosticsServer {
 public:
  static constexpr int32_t kDefaultPort = 1250;
  static constexpr int32_t kDefaultStartDelaySeconds = 5;
  static constexpr int32_t kTickPeriodMs = 10;
  static constexpr int32_t kTicksPerRefresh = 10;
  static constexpr int kDeviceListCapacity = 32;

  // The one instance, created on the first call with the default port and start delay.
  static TesseraDiagnosticsServer& GetInstance();
  // The first call decides the port and start delay; later calls return the same instance.
  static TesseraDiagnosticsServer& GetInstance(int32_t port, int32_t startDelaySeconds);

  explicit TesseraDiagnosticsServer(int32_t port = kDefaultPort,
                                    int32_t startDelaySeconds = kDefaultStartDelaySeconds);
  ~TesseraDiagnosticsServer();
  TesseraDiagnosticsServer(const TesseraDiagnosticsServer&) = delete;
  TesseraDiagnosticsServer& operator=(const TesseraDiagnosticsServer&) = delete;

  // >= 0 starts a stopped server after that many seconds (a running one keeps its delay);
  // < 0 stops it.
  void SetSecondsToStart(int32_t seconds);
  // Closes a listening server; the background thread listens on the new port at its next tick.
  void SetServerPort(int32_t port);
  void StartThread();
  // True when the background thread ended within its time.
  bool StopThread();
  bool IsRunning() const;

  // The port the HTTP server listens on, or -1 while it is not listening.
  int32_t ListeningPort() const { return dispatcher_.boundPort(); }
  // Why the HTTP server could not listen ("port 1250: Address already in use"); empty while it
  // listens or has not tried yet.
  std::string ListenFailure() const { return dispatcher_.setupError(); }
  JsonServer& Dispatcher() { return dispatcher_; }

 private:
  static constexpr int32_t kNoWorkDue = -1;

  static void Background_s(TesseraDiagnosticsServer* server);
  void Background();
  // Sleeps `ticks` ticks (kNoWorkDue: until woken). A port change ends the sleep early. Returns
  // the whole ticks that passed, at least 1, or -1 when a stop is requested.
  int32_t SleepTicks(int32_t ticks);
  // Does what the `passed` ticks had to do; returns how many ticks pass before the next one
  // has anything to do (kNoWorkDue: none until woken).
  int32_t Tick(int32_t passed);
  void InitServer();
  void CloseServer();
  void RefreshDeviceList();

  std::thread backgroundThread_;
  runtime::Event stopRequest_{false};
  runtime::Event stopped_{false};
  // Ends the background thread's sleep: a port change, or a stop request.
  runtime::Event wake_{false};
  int32_t startCountdown_ = 0;
  int32_t tickPeriodMs_ = kTickPeriodMs;
  std::recursive_mutex serverLock_;
  int32_t port_;
  int32_t refreshCounter_ = -1;
  JsonServer dispatcher_;
  CANDeviceInterface1::DeviceDescriptor deviceList_[kDeviceListCapacity] = {};
};

}  // namespace quor::tessera::diagnostics
