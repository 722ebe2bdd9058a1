#include "sim/device_state.h"

#include "sim/device_attributes.h"

namespace quor::tessera::sim {
namespace {

// Feedback-sensor codes a controller selects out of the box.
constexpr int32_t kQuadratureSensor = 0;
constexpr int32_t kIntegratedSensor = 1;

}  // namespace

DeviceState DefaultDeviceState(DeviceFamily family) {
  DeviceState state;
  const int32_t sensor =
      family == DeviceFamily::kKestrelKf ? kIntegratedSensor : kQuadratureSensor;
  state.motor.feedbackSensor = {sensor, sensor};
  return state;
}

}  // namespace quor::tessera::sim
