#include "cli/progress_poller.h"

#include "runtime/monotonic_clock.h"

namespace tessera::cli {

using quor::tessera::runtime::MonotonicMillis;

ProgressPoller::ProgressPoller(const ServerAddress& server, std::chrono::milliseconds timeout,
                               const DeviceAddress& device, ProgressDisplay& display,
                               int64_t started_ms)
    : client_(server, timeout), device_(device), display_(display), started_ms_(started_ms) {
  thread_ = std::thread([this] { run(); });
}

ProgressPoller::~ProgressPoller() { stop(); }

void ProgressPoller::stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ProgressPoller::run() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    hold.unlock();
    pollOnce();
    hold.lock();
    wake_.wait_for(hold, std::chrono::milliseconds(kPollPeriod_ms), [this] { return stopping_; });
  }
}

void ProgressPoller::pollOnce() {
  try {
    const Answer answer = client_.get(DeviceQuery("progress", device_));
    // Until the upload has reached the server, and after the upgrade, "progress" answers
    // "not updating"; only a running upgrade's percent is shown.
    if (answer.ok() && answer.document.contains("Progress") &&
        answer.document["Progress"].is_number_integer()) {
      lastPercent_ = answer.document["Progress"].get<int>();
      display_.show(lastPercent_, MonotonicMillis() - started_ms_);
      return;
    }
  } catch (const TransportError&) {
    // The upload's own connection reports a server that went away.
  }
  display_.show(lastPercent_, MonotonicMillis() - started_ms_);
}

}  // namespace tessera::cli
