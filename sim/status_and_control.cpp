#include "sim/status_and_control.h"

#include "sim/family_traits.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

bool IsMotorController(DeviceFamily family) {
  return family == DeviceFamily::kKestrelKx || family == DeviceFamily::kKestrelKf ||
         family == DeviceFamily::kHarrierHx;
}

}  // namespace

StatusAndControl::StatusAndControl(FrameSink& sink, DeviceFamily family)
    : deviceType_(TraitsOf(family).deviceType),
      isMotorController_(IsMotorController(family)),
      broadcaster_(sink, family),
      motor_(family) {}

void StatusAndControl::start(uint64_t now_us) {
  running_ = true;
  broadcaster_.start(now_us);
  motor_.reset();
}

void StatusAndControl::stop() {
  running_ = false;
  broadcaster_.stop();
  motor_.reset();
}

bool StatusAndControl::onFrame(const CanStreamMessage& frame, DeviceAttributes& device,
                               uint64_t now_us) {
  if (!running_ || !isMotorController_) return false;
  MotorControllerState& motor = device.state.motor;
  if (frame.messageID == wire::kEnableFrameId) {
    // Only the heartbeat's own shape counts; anything else on its ID changes nothing.
    if (frame.dataSize == wire::kEnableFrameLength && frame.data[1] == 0)
      motor_.onEnableFrame(motor, (frame.data[0] & wire::kEnableBit) != 0, now_us);
    return true;
  }
  const uint32_t controlId = wire::MakeStatusId(deviceType_, wire::kControlApi, device.deviceNumber);
  if (frame.messageID != controlId) return false;
  ControlCommand command;
  if (!ParseControlFrame(frame, &command)) {
    ++rejected_;
    return true;
  }
  ++accepted_;
  motor_.onControl(motor, command, now_us);
  return true;
}

void StatusAndControl::poll(DeviceAttributes& device, uint64_t now_us) {
  if (!running_) return;
  if (isMotorController_) motor_.advance(device.state.motor, now_us);
  broadcaster_.poll(device, now_us);
}

uint64_t StatusAndControl::nextDeadline_us(const DeviceAttributes& device) const {
  return running_ ? broadcaster_.nextDeadline_us(device.state.broadcast) : StatusBroadcaster::kNever;
}

}  // namespace quor::tessera::sim
