#pragma once
// A virtual bus installed as the multiplexer's backend for one test, with an endpoint that
// records every frame the server puts on it.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/canmux/bus_test_support.h"

namespace engine_test {

class BusRecorder : public bus_test::RecordingEndpoint {
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
  void Inject(uint32_t id, std::vector<uint8_t> data) {
    CanStreamMessage frame{};
    frame.messageID = id;
    frame.dataSize = static_cast<uint8_t>(data.size() > 8 ? 8 : data.size());
    std::copy_n(data.begin(), frame.dataSize, frame.data);
    bus_->inject(frame, this);
  }

  std::vector<CanStreamMessage> Frames() const { return frames(); }
  std::vector<CanStreamMessage> FramesWithId(uint32_t id) const { return framesWithId(id); }
  void Clear() { clear(); }

  VirtualBus& Bus() { return *bus_; }

 private:
  std::shared_ptr<VirtualBus> bus_;
};

// Calls `step` until `done` holds or the deadline passes; true when it held.
// Steps are paced 1 ms apart, so step counts stay comparable with the engine's real periods.
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
