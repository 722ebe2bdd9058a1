#pragma once
// A virtual bus installed as the multiplexer's backend for one test, with an endpoint that
// records every frame the server puts on it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"

namespace engine_test {

class BusRecorder : public VirtualBus::Endpoint {
 public:
  BusRecorder() : bus_(std::make_shared<VirtualBus>()) {
    bus_->attach(this);
    CanMux_SetBackend(bus_);
  }
  ~BusRecorder() override {
    bus_->detach(this);
    CanMux_SetBackend(nullptr);
  }

  void onBusFrame(const CanStreamMessage& frame) override {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back(frame);
    changed_.notify_all();
  }

  // Puts a frame on the bus as a device would.
  void Inject(uint32_t id, std::vector<uint8_t> data) {
    CanStreamMessage frame{};
    frame.messageID = id;
    frame.dataSize = static_cast<uint8_t>(data.size());
    for (size_t i = 0; i < data.size() && i < 8; ++i) frame.data[i] = data[i];
    bus_->inject(frame, this);
  }

  std::vector<CanStreamMessage> Frames() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return frames_;
  }
  std::vector<CanStreamMessage> FramesWithId(uint32_t id) const {
    std::vector<CanStreamMessage> matching;
    for (const auto& frame : Frames())
      if (frame.messageID == id) matching.push_back(frame);
    return matching;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.clear();
  }

  VirtualBus& Bus() { return *bus_; }

 private:
  std::shared_ptr<VirtualBus> bus_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CanStreamMessage> frames_;
};

// Calls `step` until `done` holds or the deadline passes; true when it held.
inline bool StepUntil(const std::function<void()>& step, const std::function<bool()>& done,
                      int timeout_ms = 2000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    step();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

}  // namespace engine_test
