#pragma once
// The capture table of one motor controller's self-test: its 16 slots keyed to the device's
// family bits, its device number, and whether it is the brushless model (which sends a
// different set of frames).
#include <cstdint>

#include "selftest/frame_records.h"

struct _Device;

class MotorControllerFrameDecoder {
 public:
  explicit MotorControllerFrameDecoder(const _Device& device);

  bool IsBrushless() const { return brushless_; }
  uint32_t DeviceNumber() const { return deviceNumber_; }
  uint32_t RequiredSlots() const;
  _frame_decoder_t* Slots() { return slots_; }
  int SlotCount() const { return kMotorControlSlotCount; }

  // Binds the captured slots, descrambling them: the motor-controller Fill.
  _MotorControlFrames_t PrivateGetFrames();
  static _MotorControlFrames_t PrivateGetFrames(_frame_decoder_t* slots, uint32_t deviceNumber);

  // True for the brushless model: its model name contains "kestrel kf", in any case.
  static bool IsBrushlessModel(const char* model);

 private:
  bool brushless_;
  uint32_t deviceNumber_;
  _frame_decoder_t slots_[kMotorControlSlotCount];
};
