#pragma once
// The host's `--can sim` and `--can sim:FILE` backend: a virtual bus with the simulated robot
// attached. The robot lives exactly as long as the backend.
#include <memory>
#include <string>

#include "canmux/can_backend.h"
#include "canmux/virtual_bus.h"
#include "sim/sim_robot.h"

namespace quor::tessera::sim {

class SimBackend : public VirtualBus {
 public:
  // The link's faults are in place before the first device speaks.
  explicit SimBackend(const std::vector<DeviceAttributes>& devices, const BusFaults& faults = {},
                      Timing timing = Timing::kWireTime);
  // Stops the robot before the bus goes away.
  ~SimBackend() override;

  SimRobot& robot() { return *robot_; }
  const SimRobot& robot() const { return *robot_; }

 private:
  std::unique_ptr<SimRobot> robot_;
};

// The built-in robot when `deviceFile` is empty, otherwise the devices of that file, on a bus
// with the file's faults, or with `faults` when given (they take the place of the file's).
// Returns nullptr and sets `error` when the file cannot be read or is malformed. The bus keeps
// wire time unless the devices are bridged to a real bus, which keeps it for them.
std::shared_ptr<SimBackend> MakeSimBus(const std::string& deviceFile, std::string* error,
                                       const BusFaults* faults = nullptr,
                                       VirtualBus::Timing timing = VirtualBus::Timing::kWireTime);

}  // namespace quor::tessera::sim

// For the host: the same, as the backend the multiplexer takes.
std::shared_ptr<CanBackend> MakeSimBackend(const std::string& deviceFileOrEmpty,
                                           std::string* error, const BusFaults* faults = nullptr);
