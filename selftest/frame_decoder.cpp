#include "selftest/frame_decoder.h"

#include <cstring>

#include "device/can_frame_layer.h"
#include "device/can_id.h"

_frame_decoder_t* FindDecoder(const _CAN_MessageEvent* frame, _frame_decoder_t* slots, int count) {
  if (frame == nullptr || slots == nullptr) return nullptr;
  const uint32_t id = frame->identifier & ~can_id::kDeviceNumberMask;
  for (int i = 0; i < count; ++i)
    if (slots[i].arbId == id) return &slots[i];
  return nullptr;
}

bool AllDecodersUpdated(const _frame_decoder_t* slots, int count) {
  for (int i = 0; i < count; ++i)
    if (slots[i].count <= 0) return false;
  return true;
}

bool RequiredDecodersUpdated(const _frame_decoder_t* slots, int count, uint32_t requiredMask) {
  for (int i = 0; i < count && i < 32; ++i)
    if ((requiredMask >> i) & 1u && slots[i].count <= 0) return false;
  return true;
}

void ConsumeStatusFrame(const _CAN_MessageEvent* frame, _frame_decoder_t* slots, int count,
                        uint32_t deviceNumber) {
  if (can_id::DeviceNumber(frame->identifier) != deviceNumber) return;
  _frame_decoder_t* slot = FindDecoder(frame, slots, count);
  if (slot == nullptr) return;
  std::memcpy(slot->data, frame->data, sizeof slot->data);
  ++slot->count;
}
