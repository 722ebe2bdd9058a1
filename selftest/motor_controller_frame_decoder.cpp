#include "selftest/motor_controller_frame_decoder.h"

#include <string>

#include "core/string_util.h"
#include "device/device_record.h"
#include "selftest/status_frame_api.h"

MotorControllerFrameDecoder::MotorControllerFrameDecoder(const _Device& device)
    : brushless_(IsBrushlessModel(device.descriptor.model)),
      deviceNumber_(can_id::DeviceNumber(device.descriptor.arbId)) {
  ResetDecoders(slots_, kMotorControlSlotCount, status_frame::FamilyBits(device.descriptor.arbId),
                kMotorControlSlots);
}

uint32_t MotorControllerFrameDecoder::RequiredSlots() const {
  return brushless_ ? kBrushlessRequiredSlots : kBrushedRequiredSlots;
}

_MotorControlFrames_t MotorControllerFrameDecoder::PrivateGetFrames() {
  return PrivateGetFrames(slots_, deviceNumber_);
}

_MotorControlFrames_t MotorControllerFrameDecoder::PrivateGetFrames(_frame_decoder_t* slots,
                                                                    uint32_t deviceNumber) {
  _MotorControlFrames_t frames;
  Fill(slots, kMotorControlSlotCount, frames, deviceNumber);
  return frames;
}

bool MotorControllerFrameDecoder::IsBrushlessModel(const char* model) {
  if (model == nullptr) return false;
  const std::string text(model, quor::tessera::string_util::safe_strlen(
                                    model, CANDeviceInterface1::kDescriptorTextSize));
  return quor::tessera::string_util::toLower(text).find("kestrel kf") != std::string::npos;
}
