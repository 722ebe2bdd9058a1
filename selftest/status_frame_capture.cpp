#include "selftest/status_frame_capture.h"

#include <cstring>

#include "device/can_frame_layer.h"
#include "device/can_id.h"
#include "selftest/status_frame_source.h"

namespace {

constexpr int kMaxPasses = 10;
constexpr int kSlotPassPause_ms = 25;
constexpr int kSlotFramesPerPass = 100;  // budget; one more frame is taken when it runs out
constexpr int kRawPassPause_ms = 5;
constexpr int kRawFrameBudget = 20;

enum class PassEnd { kContinue, kDone };

PassEnd SlotPass(StatusFrameSource& source, _frame_decoder_t* slots, int count,
                 uint32_t deviceNumber, uint32_t requiredMask) {
  int budget = kSlotFramesPerPass;
  while (const _CAN_MessageEvent* frame = source.Front()) {
    ConsumeStatusFrame(frame, slots, count, deviceNumber);
    source.Pop();
    if (budget == 0) break;
    if (RequiredDecodersUpdated(slots, count, requiredMask)) return PassEnd::kDone;
    --budget;
  }
  return RequiredDecodersUpdated(slots, count, requiredMask) ? PassEnd::kDone : PassEnd::kContinue;
}

bool AllReceived(const RawCaptureView& frames) {
  for (int i = 0; i < frames.count; ++i)
    if (!frames.received[i]) return false;
  return true;
}

void FileRawFrame(const _CAN_MessageEvent* frame, RawCaptureView& frames, uint32_t deviceNumber) {
  if (can_id::DeviceNumber(frame->identifier) != deviceNumber) return;
  const uint32_t id = frame->identifier & ~can_id::kDeviceNumberMask;
  for (int i = 0; i < frames.count; ++i) {
    if (frames.ids[i] != id) continue;
    std::memcpy(frames.data[i], frame->data, 8);
    frames.received[i] = true;
    return;
  }
}

}  // namespace

void CaptureStatusFrames(StatusFrameSource& source, _frame_decoder_t* slots, int count,
                         uint32_t deviceNumber, uint32_t requiredMask) {
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    source.Receive(kSlotPassPause_ms);
    if (SlotPass(source, slots, count, deviceNumber, requiredMask) == PassEnd::kDone) return;
  }
}

void CaptureRawStatusFrames(StatusFrameSource& source, RawCaptureView frames,
                            uint32_t deviceNumber) {
  for (int i = 0; i < frames.count; ++i) {
    std::memset(frames.data[i], 0, 8);
    frames.received[i] = false;
  }
  int budget = kRawFrameBudget;
  for (int pass = 0; pass < kMaxPasses && budget > 0 && !AllReceived(frames); ++pass) {
    source.Receive(kRawPassPause_ms);
    while (const _CAN_MessageEvent* frame = source.Front()) {
      FileRawFrame(frame, frames, deviceNumber);
      source.Pop();
      if (budget == 0) break;
      --budget;
      if (AllReceived(frames)) break;
    }
  }
}
