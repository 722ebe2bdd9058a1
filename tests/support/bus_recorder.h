#pragma once
// Watching the virtual bus in tests: an endpoint that records every frame it sees, and a
// recorder that installs a virtual bus as the multiplexer's backend for one test.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/can_stream_message.h"
#include "canmux/virtual_bus.h"
#include "tests/support/can_frames.h"

namespace tessera_test {

class RecordingEndpoint : public VirtualBus::Endpoint {
 public:
  using Observer = std::function<void(const CanStreamMessage&)>;

  void onBusFrame(const CanStreamMessage& frame) override {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back(frame);
    if (observer_) observer_(frame);
  }
  // Called with every frame as it is recorded: before the endpoints attached after this one
  // (the simulated devices of a test) see it, so before any answer to it exists.
  void setObserver(Observer observer) {
    std::lock_guard<std::mutex> hold(mutex_);
    observer_ = std::move(observer);
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
  Observer observer_;
};

// A virtual bus installed as the multiplexer's backend while the recorder lives, recording
// every frame the server puts on it.
class BusRecorder : public RecordingEndpoint {
 public:
  BusRecorder() : bus_(std::make_shared<VirtualBus>()) {
    bus_->attach(this);
    CanMux_SetBackend(bus_);
  }
  ~BusRecorder() override {
    bus_->detach(this);
    CanMux_SetBackend(nullptr);
  }

  // Puts a frame on the bus as a device would.
  void Inject(uint32_t id, const std::vector<uint8_t>& data) { bus_->inject(Frame(id, data), this); }

  VirtualBus& Bus() { return *bus_; }

 private:
  std::shared_ptr<VirtualBus> bus_;
};

}  // namespace tessera_test
