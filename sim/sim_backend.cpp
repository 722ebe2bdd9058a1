#include "sim/sim_backend.h"

#include "sim/builtin_robot.h"
#include "sim/device_file.h"

namespace quor::tessera::sim {

SimBackend::SimBackend(const std::vector<DeviceAttributes>& devices, const BusFaults& faults,
                       Timing timing)
    : VirtualBus(timing) {
  setFaults(faults);
  robot_ = std::make_unique<SimRobot>(*this, devices);
}

SimBackend::~SimBackend() { robot_.reset(); }

std::shared_ptr<SimBackend> MakeSimBus(const std::string& deviceFile, std::string* error,
                                       const BusFaults* faults, VirtualBus::Timing timing) {
  std::vector<DeviceAttributes> devices = BuiltInRobot();
  BusFaults fileFaults;
  if (!deviceFile.empty() && !LoadDeviceFile(deviceFile, &devices, error, &fileFaults))
    return nullptr;
  return std::make_shared<SimBackend>(devices, faults != nullptr ? *faults : fileFaults, timing);
}

}  // namespace quor::tessera::sim

std::shared_ptr<CanBackend> MakeSimBackend(const std::string& deviceFileOrEmpty,
                                           std::string* error, const BusFaults* faults) {
  return quor::tessera::sim::MakeSimBus(deviceFileOrEmpty, error, faults);
}
