#pragma once
// Capturing a snapshot of a device's periodic status frames. Both captures are bounded in
// passes and frames, so a self-test answers in well under a second even on a busy bus, and
// neither fails by itself: what did not arrive stays unreceived and the report decides.
#include <cstdint>

#include "selftest/frame_decoder.h"

class StatusFrameSource;

// Slot-table capture (motor controllers, IMU, I/O board, encoder): up to 10 passes of 25 ms,
// at most 101 frames a pass; ends as soon as every slot of `requiredMask` has arrived. The
// slots must have been reset (ResetDecoders) with the device's IDs.
void CaptureStatusFrames(StatusFrameSource& source, _frame_decoder_t* slots, int count,
                         uint32_t deviceNumber, uint32_t requiredMask);

// Frames at absolute IDs (power-distribution panel, pneumatics module), all of them required.
template <int N>
struct RawStatusFrames {
  uint32_t ids[N];     // without the device number
  uint8_t data[N][8];  // newest copy received
  bool received[N];
};
struct RawCaptureView {
  const uint32_t* ids;
  uint8_t (*data)[8];
  bool* received;
  int count;
};
template <int N>
RawCaptureView ViewOf(RawStatusFrames<N>& frames) {
  return {frames.ids, frames.data, frames.received, N};
}

// Up to 10 passes of 5 ms and 20 frames in all; ends when every frame has arrived.
void CaptureRawStatusFrames(StatusFrameSource& source, RawCaptureView frames,
                            uint32_t deviceNumber);
