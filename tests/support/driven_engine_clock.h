#pragma once
// The device engine's clock, driven by a test (QuorDeviceInterface::SetClock): the engine's
// time as it would be (SimPacedEngineClock::Now) plus the jumps the test has made. The test names the frames on the virtual bus that
// call for a jump; at the engine's first reading of the clock after each new such frame, an
// optional action runs on the engine's own thread (holding it up there, as a loaded machine
// would) and the clock jumps ahead, so the wait in progress passes its deadline at once. Waits
// for an answer that will never come then take no real time, and a hold-up happens at one exact
// point rather than by chance.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "canmux/virtual_bus.h"
#include "device/quor_device_interface.h"
#include "tests/support/sim_paced_engine_clock.h"

namespace tessera_test {

class DrivenEngineClock : public VirtualBus::Endpoint {
 public:
  // Called for every frame, one at a time (it may keep state); true for the frames that call
  // for a jump.
  using Matches = std::function<bool(const CanStreamMessage&)>;

  DrivenEngineClock(VirtualBus& bus, Matches matches, int64_t jump_ns,
                    std::function<void()> action = {})
      : bus_(bus), matches_(std::move(matches)), jump_ns_(jump_ns), action_(std::move(action)) {
    current_ = this;
    bus_.attach(this);
    QuorDeviceInterface::SetClock(&Read);
  }
  ~DrivenEngineClock() override {
    SimPacedEngineClock::Reinstall();
    bus_.detach(this);
    current_ = nullptr;
  }
  DrivenEngineClock(const DrivenEngineClock&) = delete;
  DrivenEngineClock& operator=(const DrivenEngineClock&) = delete;

  void onBusFrame(const CanStreamMessage& frame) override {
    if (matches_(frame)) ++matched_;
  }
  // Jumps made so far.
  int jumps() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return jumps_;
  }

 private:
  static int64_t Read() { return current_->read(); }
  int64_t read() {
    std::lock_guard<std::mutex> hold(mutex_);
    while (jumps_ < matched_.load()) {
      ++jumps_;
      if (action_) action_();
      offset_ns_ += jump_ns_;
    }
    return SimPacedEngineClock::Now() + offset_ns_;
  }

  static inline DrivenEngineClock* current_ = nullptr;
  VirtualBus& bus_;
  Matches matches_;
  const int64_t jump_ns_;
  std::function<void()> action_;
  std::atomic<int> matched_{0};
  mutable std::mutex mutex_;
  int jumps_ = 0;
  int64_t offset_ns_ = 0;
};

}  // namespace tessera_test
