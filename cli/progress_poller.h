#pragma once
// Asks the server for "progress" on a connection of its own while another connection waits for
// the firmware upload to be answered (the server answers the upload only when the upgrade has
// ended). Each percent the server reports is handed to the display.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cli/device_address.h"
#include "cli/diag_client.h"
#include "cli/progress_display.h"

namespace tessera::cli {

class ProgressPoller {
 public:
  static constexpr int kPollPeriod_ms = 250;

  // Starts polling at once; `started_ms` is when the job began on the monotonic clock.
  ProgressPoller(const ServerAddress& server, std::chrono::milliseconds timeout,
                 const DeviceAddress& device, ProgressDisplay& display, int64_t started_ms);
  ~ProgressPoller();
  ProgressPoller(const ProgressPoller&) = delete;
  ProgressPoller& operator=(const ProgressPoller&) = delete;

  // Stops and joins; the display is the caller's again afterwards.
  void stop();
  // The last percent the server reported while the upgrade ran (0 before any).
  int lastPercent() const { return lastPercent_; }

 private:
  void run();
  void pollOnce();

  DiagClient client_;
  DeviceAddress device_;
  ProgressDisplay& display_;
  int64_t started_ms_;
  int lastPercent_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tessera::cli
