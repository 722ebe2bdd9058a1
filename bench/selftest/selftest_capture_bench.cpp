// The self-test of the simulated Kestrel KX (ID 1) and Kestrel KF (ID 2) called on the engine
// directly, 20 repetitions each (read the median). Nothing else holds the device-interface
// lock here, so the figure is the capture and report alone: the capture ends once the slowest
// required frame (160 ms period) has arrived, checked every 25 ms. "complete" is 1 when the
// report had every frame (no "Some frames are missing" warning).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "device/impl_device_interface.h"
#include "device/quor_device_interface.h"
#include "runtime/event.h"
#include "sim/builtin_robot.h"
#include "sim/sim_robot.h"

namespace {

using Clock = std::chrono::steady_clock;
using Descriptor = CANDeviceInterface1::DeviceDescriptor;
constexpr int kRepetitions = 20;
constexpr int kTextCapacity = 8092;
constexpr auto kListingDeadline = std::chrono::seconds(30);

class SimulatedRobot {
 public:
  SimulatedRobot()
      : bus_(std::make_shared<VirtualBus>()),
        robot_((CanMux_SetBackend(bus_), std::make_unique<quor::tessera::sim::SimRobot>(
                                             *bus_, quor::tessera::sim::BuiltInRobot()))),
        front_(std::make_unique<ImplDeviceInterface>(engine_)) {}
  ~SimulatedRobot() {
    front_.reset();
    engine_.DhcpServer().Restart();
    robot_.reset();
    CanMux_SetBackend(nullptr);
  }

  // The listed descriptor of the device with this model and number, after discovery rounds.
  bool Find(const char* model, uint32_t number, Descriptor& found) {
    const auto deadline = Clock::now() + kListingDeadline;
    while (Clock::now() < deadline) {
      front_->getNumberOfDevices(noCancel_);
      Descriptor list[32];
      const int count = engine_.getListOfDevices(list, 32);
      for (int i = 0; i < count; ++i) {
        if (std::strcmp(list[i].model, model) == 0 && (list[i].arbId & 0x3F) == number) {
          found = list[i];
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  ImplDeviceInterface& Front() { return *front_; }

 private:
  std::shared_ptr<VirtualBus> bus_;
  std::unique_ptr<quor::tessera::sim::SimRobot> robot_;
  QuorDeviceInterface engine_;
  std::unique_ptr<ImplDeviceInterface> front_;
  quor::tessera::runtime::Event noCancel_;
};

SimulatedRobot& Robot() {
  static SimulatedRobot robot;
  return robot;
}

void Measure(benchmark::State& state, const char* model, uint32_t number) {
  Descriptor device{};
  if (!Robot().Find(model, number, device)) {
    state.SkipWithError("device not listed");
    return;
  }
  std::vector<char> text(kTextCapacity);
  for (auto _ : state) {
    const auto start = Clock::now();
    const int result = Robot().Front().selfTest(&device, text.data(), kTextCapacity);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["error"] = result;
    state.counters["complete"] = std::strstr(text.data(), "Some frames are missing") == nullptr;
  }
}

void SelfTestKestrelKx(benchmark::State& state) { Measure(state, "Kestrel KX", 1); }
void SelfTestKestrelKf(benchmark::State& state) { Measure(state, "Kestrel KF", 2); }

BENCHMARK(SelfTestKestrelKx)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);
BENCHMARK(SelfTestKestrelKf)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
