#pragma once
// The device engine's clock for tests against the simulated robot: the monotonic clock, except
// that it stands still while the robot lags behind (a frame it was shown and has not answered,
// a device deadline its thread has not reached). On a loaded machine the simulation thread can
// be held back past one of the engine's short waits for an answer (20 ms); a real device
// answers in well under a millisecond, so in a test the wait runs on the devices' time, and a
// device that never answers still times out as before.
#include <algorithm>
#include <cstdint>
#include <mutex>

#include "device/quor_device_interface.h"
#include "runtime/monotonic_clock.h"
#include "sim/sim_robot.h"

namespace tessera_test {

class SimPacedEngineClock {
 public:
  explicit SimPacedEngineClock(const quor::tessera::sim::SimRobot& robot) : robot_(robot) {
    std::lock_guard<std::mutex> hold(Installed());
    current_ = this;
    last_ns_ = quor::tessera::runtime::MonotonicNanos();
    QuorDeviceInterface::SetClock(&Now);
  }
  ~SimPacedEngineClock() {
    std::lock_guard<std::mutex> hold(Installed());
    if (current_ != this) return;
    QuorDeviceInterface::SetClock(nullptr);
    current_ = nullptr;
  }
  SimPacedEngineClock(const SimPacedEngineClock&) = delete;
  SimPacedEngineClock& operator=(const SimPacedEngineClock&) = delete;

  // The engine's time: this clock's when one is installed, otherwise the monotonic clock. A
  // test clock of its own (one that jumps) builds on this and reinstalls it when done.
  static int64_t Now() {
    std::lock_guard<std::mutex> hold(Installed());
    return current_ != nullptr ? current_->read() : quor::tessera::runtime::MonotonicNanos();
  }
  static void Reinstall() {
    std::lock_guard<std::mutex> hold(Installed());
    QuorDeviceInterface::SetClock(current_ != nullptr ? &Now : nullptr);
  }

 private:
  static std::mutex& Installed() {
    static std::mutex mutex;
    return mutex;
  }

  // With the lock held.
  int64_t read() {
    const int64_t now_ns = quor::tessera::runtime::MonotonicNanos();
    const uint64_t lagging_us = robot_.laggingSince_us();
    if (lagging_us != 0) {
      const int64_t standsSince_ns = std::max(last_ns_, static_cast<int64_t>(lagging_us) * 1000);
      if (now_ns > standsSince_ns) stood_ns_ += now_ns - standsSince_ns;
    }
    last_ns_ = now_ns;
    return now_ns - stood_ns_;
  }

  static inline SimPacedEngineClock* current_ = nullptr;
  const quor::tessera::sim::SimRobot& robot_;
  int64_t last_ns_ = 0;
  int64_t stood_ns_ = 0;
};

}  // namespace tessera_test
