#pragma once
// Watching an upgrade's progress from another thread, as the "progress" request does: every
// change of (percent, in progress) with the time it was first seen; or the progress at the
// moment each of the upgrade's requests goes on the bus.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/bus_recorder.h"

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

// The progress at each request of an upgrade, read as the request's first frame is recorded:
// the devices have not seen it yet, so the upgrade cannot have moved on, whatever the load.
class ProgressAtRequests {
 public:
  struct Sample {
    uint8_t code;  // the request code
    int percent;
    bool running;
  };

  ProgressAtRequests(RecordingEndpoint& recorder, ProgressRecorder::Read read)
      : recorder_(recorder), read_(std::move(read)) {
    recorder_.setObserver([this](const CanStreamMessage& frame) { onFrame(frame); });
  }
  ~ProgressAtRequests() { recorder_.setObserver(nullptr); }
  ProgressAtRequests(const ProgressAtRequests&) = delete;
  ProgressAtRequests& operator=(const ProgressAtRequests&) = delete;

  std::vector<Sample> samples() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return samples_;
  }

 private:
  void onFrame(const CanStreamMessage& frame) {
    const uint8_t* d = frame.data;
    uint8_t code = 0;
    const bool padded = std::all_of(d + 2, d + 8, [](uint8_t b) { return b == 0xAA; });
    if (frame.dataSize == 8 && d[0] == 0x01 && padded && (d[1] & 0xF0) == 0xB0) {
      code = d[1];  // a one-byte bootloader request
    } else if (frame.dataSize == 8 && d[0] == 0x16 && d[1] == 0x05 && d[2] == 0xB1) {
      code = d[2];  // the first frame of a whole sector
    } else {
      return;
    }
    Sample sample{code, -1, false};
    read_(&sample.percent, &sample.running);
    std::lock_guard<std::mutex> hold(mutex_);
    samples_.push_back(sample);
  }

  RecordingEndpoint& recorder_;
  ProgressRecorder::Read read_;
  mutable std::mutex mutex_;
  std::vector<Sample> samples_;
};

}  // namespace tessera_test
