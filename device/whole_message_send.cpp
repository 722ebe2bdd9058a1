// Sending a request of several frames to its end before the wait for the device's answer
// begins. The device can answer only once it holds the whole message, and the transfer may take
// long: a device may ask for time between frames, and a host busy with other work sends late.
// Counting the transfer into the answer's time-out would fail a device that answers in time.
#include <algorithm>
#include <chrono>
#include <thread>

#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"

namespace {

// A transfer may take the flow-control wait, then per frame the separation time the device
// asked for and this much more (a frame the bus refuses is retried for up to 50 ms in a step).
constexpr int64_t kFlowControlAllowance_ns = 200 * 1000000LL;
constexpr int64_t kFrameAllowance_ns = 10 * 1000000LL;
constexpr int kLongestTransferStep_us = 1000;

uint32_t ConsecutiveFrames(uint16_t messageLength) {
  if (messageLength <= kIsoMaxSingleFramePayload) return 0;
  return (messageLength - kIsoFirstFramePayload + kIsoConsecutiveFramePayload - 1) /
         kIsoConsecutiveFramePayload;
}

}  // namespace

bool QuorDeviceInterface::SendAndWait(_Iso15765_t* iso, DeviceDescriptor& descriptor,
                                     const uint8_t* message, uint16_t length, uint32_t mask,
                                     int timeout_ms, int step_us) {
  descriptor.respFlags &= ~mask;
  if (Iso15Adap_Tx(iso, message, length, 0) != ISO15765_ERR_OK) return false;
  const uint32_t frames = ConsecutiveFrames(length);
  if (frames > 0) {
    if (!SendWholeMessage(iso, frames, std::min(step_us, kLongestTransferStep_us))) {
      diag_printf("request to %s: the message did not leave whole\n",
                  TextFieldValue(descriptor.name).c_str());
      return false;
    }
    if (FlagReceived(&descriptor.respFlags, mask)) return true;
  }
  return WaitForIso15(iso, timeout_ms * 1e6, &descriptor, mask, step_us) != 0;
}

bool QuorDeviceInterface::SendWholeMessage(_Iso15765_t* iso, uint32_t frames, int step_us) {
  const int64_t start_ns = GetTime();
  int64_t tickReference_ns = start_ns;
  int64_t lastFrame_ns = start_ns;
  for (;;) {
    const uint16_t sentBefore = iso->txPosition;
    ProcessIsoStep(iso, tickReference_ns);
    const int64_t now_ns = GetTime();
    if (iso->txPosition != sentBefore) lastFrame_ns = now_ns;
    const _Iso15765_Error_t status = Iso15765_GetTransmitStatus(iso);
    if (status == ISO15765_ERR_OK && CAN_TX_GetCount() == 0) return true;
    const int64_t separation_ns = static_cast<int64_t>(Iso15765_PeerSeparationTime_us(iso)) * 1000;
    const int64_t deadline_ns =
        start_ns + kFlowControlAllowance_ns + frames * (separation_ns + kFrameAllowance_ns);
    if (status == ISO15765_ERR_TIMEOUT || now_ns >= deadline_ns) return false;
    int64_t pause_us = step_us;
    if (iso->txPaceHold) {
      const int64_t due_ns = lastFrame_ns + separation_ns;
      if (now_ns >= due_ns) {
        Iso15765_ReleaseNextFrame(iso);
        continue;
      }
      pause_us = std::min<int64_t>(pause_us, (due_ns - now_ns + 999) / 1000);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
  }
}
