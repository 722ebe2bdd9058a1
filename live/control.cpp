#include "live/control.h"

#include <chrono>
#include <optional>

#include "canmux/can_mux.h"
#include "device/error_codes.h"
#include "live/motor_controller_address.h"

namespace quor::tessera::diagnostics {

Control::Control()
    : thread_("Control", std::chrono::milliseconds(kTickPeriod_ms), [this] { return Process10Ms(); }) {}

int Control::ProcessUri(const CANDeviceInterface1::DeviceDescriptor* device,
                        const utility::ParameterMap& params) {
  const bool controlEnable = utility::LookupBoolValue(params, "controlen", false);
  const bool enableFrame = utility::LookupBoolValue(params, "nonfrcroboten", false);
  const std::optional<ControlFrameBytes> frame = PackControlFrame(params);
  if (device == nullptr || !IsMotorController(device->arbId)) return QUOR_DI_FeatureNotSupported;
  // A value the frame cannot carry is refused like a device without control: what runs keeps
  // running out its ticks, and nothing of this request goes out.
  if (!frame) return QUOR_DI_FeatureNotSupported;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return QUOR_DI_CouldNotSendCanFrame;
    controlId_ = ControlFrameId(device->arbId);
    sendControlFrame_ = controlEnable;
    sendEnableFrame_ = enableFrame;
    if (*frame != requested_) changed_ = true;
    requested_ = *frame;
    age_ms_ = 0;
  }
  thread_.Wake();
  return QUOR_DI_OKAY;
}

Control::Outgoing Control::PrepareTick() {
  std::lock_guard<std::mutex> hold(lock_);
  if (changed_) {
    changed_ = false;
    toSend_ = WithCheckBit(requested_);
  }
  if (age_ms_ < kIdleAge_ms) age_ms_ += kTickPeriod_ms;
  return {controlId_, sendEnableFrame_, sendControlFrame_, age_ms_, toSend_};
}

bool Control::Process10Ms() {
  std::lock_guard<std::mutex> tick(sending_);
  const Outgoing out = PrepareTick();
  if (out.age_ms >= kRunOut_ms) return false;
  int32_t status = 0;  // a failed send is simply repeated at the next tick
  if (out.sendControlFrame)
    FRC_NetworkCommunication_CANSessionMux_sendMessage(out.controlId, out.frame.data(),
                                                       static_cast<uint8_t>(out.frame.size()),
                                                       kCanMuxPeriodOnce, &status);
  if (out.sendEnableFrame)
    FRC_NetworkCommunication_CANSessionMux_sendMessage(
        kEnableFrameId, kEnableFrameData.data(), static_cast<uint8_t>(kEnableFrameData.size()),
        kCanMuxPeriodOnce, &status);
  return out.age_ms + kTickPeriod_ms < kRunOut_ms;
}

void Control::ResetLocked() {
  controlId_ = 0;
  sendEnableFrame_ = false;
  sendControlFrame_ = false;
  age_ms_ = kIdleAge_ms;
  changed_ = true;
  requested_ = {};
  toSend_ = {};
}

void Control::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    ResetLocked();
  }
  // A tick that copied the old state before the reset sends its last frames before this returns.
  std::lock_guard<std::mutex> waitOutTick(sending_);
}

void Control::Open() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = false;
}

}  // namespace quor::tessera::diagnostics
