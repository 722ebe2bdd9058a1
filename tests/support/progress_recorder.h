#pragma once
// Watching an upgrade's progress from another thread, as the "progress" request does: every
// change of (percent, in progress) with the time it was first seen.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tessera_test {

struct ProgressSample {
  int percent;
  bool running;
  std::chrono::steady_clock::time_point seen;
};

class ProgressRecorder {
 public:
  using Read = std::function<void(int* percent, bool* running)>;

  explicit ProgressRecorder(Read read,
                            std::chrono::microseconds interval = std::chrono::microseconds(50))
      : read_(std::move(read)), interval_(interval), thread_([this] { run(); }) {}
  ~ProgressRecorder() { stop(); }
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<ProgressSample> samples() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return samples_;
  }
  // The percents seen while an upgrade ran, in order, each once.
  std::vector<int> runningPercents() const {
    std::vector<int> percents;
    for (const ProgressSample& s : samples()) {
      if (s.running && (percents.empty() || percents.back() != s.percent))
        percents.push_back(s.percent);
    }
    return percents;
  }

 private:
  void run() {
    while (!stopping_) {
      int percent = -1;
      bool running = false;
      read_(&percent, &running);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (samples_.empty() || samples_.back().percent != percent ||
            samples_.back().running != running)
          samples_.push_back({percent, running, std::chrono::steady_clock::now()});
      }
      std::this_thread::sleep_for(interval_);
    }
  }

  Read read_;
  std::chrono::microseconds interval_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<ProgressSample> samples_;
  std::thread thread_;
};

}  // namespace tessera_test
