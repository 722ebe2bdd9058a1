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
  explicit SimBackend(const std::vector<DeviceAttributes>& devices);
  // Stops the robot before the bus goes away.
  ~SimBackend() override;

  SimRobot& robot() { return *robot_; }
  const SimRobot& robot() const { return *robot_; }

 private:
  std::unique_ptr<SimRobot> robot_;
};

// The built-in robot when `deviceFile` is empty, otherwise the devices of that file. Returns
// nullptr and sets `error` when the file cannot be read or is malformed.
std::shared_ptr<SimBackend> MakeSimBus(const std::string& deviceFile, std::string* error);

}  // namespace quor::tessera::sim

// For the host: the same, as the backend the multiplexer takes.
std::shared_ptr<CanBackend> MakeSimBackend(const std::string& deviceFileOrEmpty,
                                           std::string* error);
