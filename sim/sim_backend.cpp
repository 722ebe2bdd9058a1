#include "sim/sim_backend.h"

#include "sim/builtin_robot.h"
#include "sim/device_file.h"

namespace quor::tessera::sim {

SimBackend::SimBackend(const std::vector<DeviceAttributes>& devices)
    : VirtualBus(Timing::kWireTime),
      robot_(std::make_unique<SimRobot>(*this, devices)) {}

SimBackend::~SimBackend() { robot_.reset(); }

std::shared_ptr<SimBackend> MakeSimBus(const std::string& deviceFile, std::string* error) {
  if (deviceFile.empty()) return std::make_shared<SimBackend>(BuiltInRobot());
  std::vector<DeviceAttributes> devices;
  if (!LoadDeviceFile(deviceFile, &devices, error)) return nullptr;
  return std::make_shared<SimBackend>(devices);
}

}  // namespace quor::tessera::sim

std::shared_ptr<CanBackend> MakeSimBackend(const std::string& deviceFileOrEmpty,
                                           std::string* error) {
  return quor::tessera::sim::MakeSimBus(deviceFileOrEmpty, error);
}
