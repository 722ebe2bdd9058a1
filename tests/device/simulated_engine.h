#pragma once
// An engine of its own (with its locking front and dynamic-ID worker) on a virtual bus with
// simulated devices, for tests that run whole discovery rounds.
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/bus_recorder.h"
#include "tests/support/sim_paced_engine_clock.h"
#include "tests/support/wait_until.h"
#include "device/impl_device_interface.h"
#include "device/quor_device_interface.h"
#include "runtime/event.h"
#include "sim/sim_robot.h"

namespace engine_test {

class SimulatedEngine {
 public:
  explicit SimulatedEngine(const std::vector<quor::tessera::sim::DeviceAttributes>& devices)
      : robot_(std::make_unique<quor::tessera::sim::SimRobot>(recorder_.Bus(), devices)),
        front_(std::make_unique<ImplDeviceInterface>(engine_)),
        clock_(std::make_unique<tessera_test::SimPacedEngineClock>(*robot_)) {}
  ~SimulatedEngine() {
    front_.reset();
    engine_.DhcpServer().Restart();  // closes its session before the bus goes
    clock_.reset();
    robot_.reset();
  }

  // Waits until the dynamic-ID server has settled and knows every plugged device by the dynamic
  // ID it holds now.
  bool WaitUntilAddressable(std::chrono::milliseconds deadline = std::chrono::seconds(8)) {
    return tessera_test::WaitUntil([this] { return Addressable(); }, deadline,
                                   std::chrono::milliseconds(10));
  }

  int Round() { return front_->getNumberOfDevices(noCancel_); }

  // Rounds until `devices` are listed: two cover the four-device window twice; a loaded machine
  // can make a poll miss its wait, so up to ten. The listing's size at the end.
  size_t RoundsUntilListed(size_t devices) {
    for (int round = 0; round < 10 && (round < 2 || Listed().size() < devices); ++round) Round();
    return Listed().size();
  }

  // Device IDs whose information the server asked for since the last call.
  std::set<uint32_t> PolledSinceLastCall() {
    std::set<uint32_t> polled;
    for (const CanStreamMessage& frame : recorder_.frames()) {
      if (frame.dataSize < 2 || frame.data[0] != 1 || frame.data[1] != 0xB0) continue;
      uint32_t deviceId = 0;
      if (engine_.DhcpServer().LookupDevId(frame.messageID & ~0x3C0u, deviceId))
        polled.insert(deviceId);
    }
    recorder_.clear();
    return polled;
  }

  std::vector<CANDeviceInterface1::DeviceDescriptor> Listed() {
    CANDeviceInterface1::DeviceDescriptor list[32];
    const int count = engine_.getListOfDevices(list, 32);  // no version files from tests
    return std::vector<CANDeviceInterface1::DeviceDescriptor>(list, list + count);
  }

  QuorDeviceInterface& Engine() { return engine_; }
  ImplDeviceInterface& Front() { return *front_; }
  quor::tessera::sim::SimRobot& Robot() { return *robot_; }
  tessera_test::BusRecorder& Recorder() { return recorder_; }

 private:
  bool Addressable() {
    if (engine_.DhcpServer().GetState() != CanDhcpServer::kSettled) return false;
    for (size_t i = 0; i < robot_->deviceCount(); ++i) {
      quor::tessera::sim::DeviceAttributes attributes;
      if (!robot_->isPlugged(i) || !robot_->attributes(i, &attributes) ||
          attributes.mode == quor::tessera::sim::DeviceMode::kSilent || !attributes.dynamicIds)
        continue;
      uint32_t dynamicId = 0;
      if (engine_.DhcpServer().LookupDynId(robot_->baseArbId(i), dynamicId) == 0) return false;
      // A ribbon IMU answers on its controller's dynamic number and has none of its own.
      if (attributes.onRibbonCable) continue;
      const int number = robot_->dynamicNumber(i);
      if (number < 0 || static_cast<uint32_t>(number) != (dynamicId & 0x3F)) return false;
    }
    return true;
  }

  tessera_test::BusRecorder recorder_;
  std::unique_ptr<quor::tessera::sim::SimRobot> robot_;
  QuorDeviceInterface engine_;
  std::unique_ptr<ImplDeviceInterface> front_;
  // The engine's waits run on the devices' time: a simulation thread a loaded machine holds
  // back does not make a device that answers look like one that does not.
  std::unique_ptr<tessera_test::SimPacedEngineClock> clock_;
  quor::tessera::runtime::Event noCancel_;
};

}  // namespace engine_test
