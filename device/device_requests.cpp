// Talking to one device: addressing an ISO-15765 instance to it, sending a request and waiting
// for the answer's respFlags bits.
#include <algorithm>
#include <cmath>
#include <thread>

#include "device/engine_wire.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"

namespace {

constexpr int64_t kMillisecond_ns = 1000000;
constexpr int64_t kTick_ns = kMillisecond_ns;  // the transport's time-outs count 1 ms ticks
constexpr int kSpinStep_us = 3000;
// A pause that waits for frames looks at the cancel signal at least this often.
constexpr int64_t kCancelCheck_ms = 50;
constexpr int kTxDrainStep_us = 1000;

void SleepMicros(int us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

}  // namespace

void QuorDeviceInterface::usleep_minIdleBusTimeUs() {
  const int pause_us = GetMinIdleBusTimeUs();
  if (pause_us > 0) SleepMicros(pause_us);
}

void QuorDeviceInterface::SetupIso(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                   const DeviceDescriptor* descriptor, int separationTime_ms) {
  const uint32_t address = descriptor->dynamicId;
  const uint32_t txId = engine_id::RequestId(address);
  const uint32_t rxId = engine_id::AnswerId(txId);
  const uint32_t rxId2 = engine_id::SecondAnswerId(address);
  const int separation = separationTime_ms < 0 ? GetIsoSeparationTime() : separationTime_ms;
  Iso15Adap_Setup(iso, buffer, capacity, rxId2, rxId, txId, static_cast<uint8_t>(separation));
}

void QuorDeviceInterface::ProcessIsoStep(_Iso15765_t* iso, int64_t& tickReference_ns) {
  Iso15Adap_Process(iso, GetStratgy(), &QuorDeviceInterface::ProcessIsoRx_s, this);
  // At most one tick per pass, so the transport's time-outs stretch when a pass runs long.
  if (GetTime() - tickReference_ns > kTick_ns) {
    Iso15Adap_Process1Ms(iso);
    tickReference_ns += kTick_ns;
  }
}

void QuorDeviceInterface::PauseAfterStep(const _Iso15765_t* iso, int step_us, int64_t until_ns) {
  if (!Iso15765_IsQuiet(iso) || CAN_TX_GetCount() != 0) {
    SleepMicros(step_us);  // the transport's ticks count passes: keep their pace
    return;
  }
  const int64_t left_ns = until_ns - GetTime();
  if (left_ns <= 0) return;
  const int64_t left_ms = (left_ns + kMillisecond_ns - 1) / kMillisecond_ns;
  CAN_WaitForFrames(static_cast<int>(std::min<int64_t>(left_ms, kCancelCheck_ms)));
}

// Every wait for a device's answer or a flag runs here: a processing step, a pause, a look at
// what the step brought. A thread held up past the deadline (a loaded machine) can find the
// answer waiting in its session when it runs again, so once the time is up one last step takes in
// whatever has arrived before the wait is declared over. The wait itself lasts as long as before.
template <typename Done, typename Pause>
QuorDeviceInterface::WaitEnd QuorDeviceInterface::ProcessUntil(_Iso15765_t* iso,
                                                               int64_t duration_ns, Done done,
                                                               Pause pause) {
  const int64_t start_ns = GetTime();
  int64_t tickReference_ns = start_ns;
  for (;;) {
    ProcessIsoStep(iso, tickReference_ns);
    pause(start_ns + duration_ns);
    if (done()) return WaitEnd::kDone;
    if (RoundCancelled()) return WaitEnd::kCancelled;
    if (GetTime() - start_ns >= duration_ns) {
      ProcessIsoStep(iso, tickReference_ns);
      return done() ? WaitEnd::kDone : WaitEnd::kTimedOut;
    }
  }
}

int QuorDeviceInterface::WaitForIso15(_Iso15765_t* iso, double timeout_ns,
                                      DeviceDescriptor* descriptor, uint32_t mask, int step_us) {
  descriptor->respFlags &= ~mask;
  const WaitEnd end = ProcessUntil(
      iso, static_cast<int64_t>(std::ceil(timeout_ns)),
      [&] { return FlagReceived(&descriptor->respFlags, mask); },
      [step_us](int64_t) { SleepMicros(step_us); });
  if (end == WaitEnd::kTimedOut) {
    diag_printf("TP failed, device was: %s\n", TextFieldValue(descriptor->name).c_str());
    diag_printf("Flags to set were: %d\n", static_cast<int>(mask));
    diag_printf("Flags actually set were: %d\n", static_cast<int>(descriptor->respFlags));
  }
  return end == WaitEnd::kDone ? 1 : 0;
}

void QuorDeviceInterface::Spin(_Iso15765_t* iso, int64_t duration_ns) {
  ProcessUntil(
      iso, duration_ns, [] { return false; },
      [this, iso](int64_t until_ns) { PauseAfterStep(iso, kSpinStep_us, until_ns); });
}

bool QuorDeviceInterface::SpinUntil(_Iso15765_t* iso, int64_t duration_ns,
                                    const std::function<bool()>& done) {
  return ProcessUntil(iso, duration_ns, done, [](int64_t) { SleepMicros(kSpinStep_us); }) ==
         WaitEnd::kDone;
}

int QuorDeviceInterface::SpinAndCheckTxEmpty(_Iso15765_t* iso, int64_t duration_ns) {
  const WaitEnd end = ProcessUntil(
      iso, duration_ns, [] { return CAN_TX_GetCount() == 0; },
      [](int64_t) { SleepMicros(kTxDrainStep_us); });
  return end == WaitEnd::kDone ? 1 : 0;
}

bool QuorDeviceInterface::RequestAndWait(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                         DeviceDescriptor* descriptor, const uint8_t* request,
                                         uint16_t length, uint32_t mask, int timeout_ms) {
  usleep_minIdleBusTimeUs();
  SetupIso(iso, buffer, capacity, descriptor);
  Iso15Adap_Tx(iso, request, length, 0);
  return WaitForIso15(iso, timeout_ms * 1e6, descriptor, mask, kSpinStep_us) != 0;
}
