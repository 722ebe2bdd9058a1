#pragma once
// Helpers shared by the bus tests: waiting for a condition with a deadline, building frames,
// and an endpoint that records what it sees on the virtual bus.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "canmux/can_stream_message.h"
#include "canmux/virtual_bus.h"

namespace bus_test {

// Polls `condition` until it holds or the deadline passes; returns its last value.
template <typename Condition>
bool waitUntil(Condition condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(3000)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return condition();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

inline CanStreamMessage frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
  CanStreamMessage message{};
  message.messageID = id;
  message.dataSize = static_cast<uint8_t>(bytes.size() > 8 ? 8 : bytes.size());
  // An empty list may have no storage at all; memcpy must not see its null pointer.
  std::copy_n(bytes.begin(), message.dataSize, message.data);
  return message;
}

class RecordingEndpoint : public VirtualBus::Endpoint {
 public:
  void onBusFrame(const CanStreamMessage& frame) override {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back(frame);
  }
  std::vector<CanStreamMessage> frames() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return frames_;
  }
  std::vector<CanStreamMessage> framesWithId(uint32_t id) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<CanStreamMessage> matching;
    for (const CanStreamMessage& f : frames_) {
      if (f.messageID == id) matching.push_back(f);
    }
    return matching;
  }
  size_t count() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return frames_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CanStreamMessage> frames_;
};

}  // namespace bus_test
