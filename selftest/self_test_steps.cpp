#include "selftest/self_test_steps.h"

#include "device/device_record.h"
#include "device/error_codes.h"
#include "selftest/candial_report.h"
#include "selftest/cantap_report.h"
#include "selftest/motor_controller_frame_decoder.h"
#include "selftest/motor_controller_report.h"
#include "selftest/pcm_report.h"
#include "selftest/pdp_report.h"
#include "selftest/report_helpers.h"
#include "selftest/status_frame_api.h"
#include "selftest/status_frame_capture.h"
#include "selftest/wren_report.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr const char* kClearsStickyFaults = "\"Light Device LED\" clears sticky faults.";
constexpr const char* kToClearStickyFaults = "\"Light Device LED\" to clear sticky faults.";
constexpr const char* kToClearStickyFaultsPcm =
    "\"Light Device LED\" to clear sticky faults (disables compressor momentarily).";

uint32_t DeviceNumber(const _Device& device) {
  return can_id::DeviceNumber(device.descriptor.arbId);
}
uint32_t FamilyBits(const _Device& device) {
  return status_frame::FamilyBits(device.descriptor.arbId);
}

int Close(int result, const char* closingLine, std::ostream& out) {
  if (result == QUOR_DI_OKAY) out << "\n" << closingLine << "\n";
  return result;
}

// Capture into a family's slot table (all slots required) and bind the record. The record points
// into `slots`, which the caller keeps for as long as it reads the record.
template <typename Record, int N, typename... FillArgs>
Record CaptureFamily(const _Device& device, StatusFrameSource& source,
                     const SlotLayout (&layouts)[N], _frame_decoder_t (&slots)[N],
                     FillArgs... fillArgs) {
  ResetDecoders(slots, N, FamilyBits(device), layouts);
  CaptureStatusFrames(source, slots, N, DeviceNumber(device), AllSlots(N));
  Record record;
  Fill(slots, N, record, fillArgs...);
  return record;
}

}  // namespace

int SelfTest_MotorController(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  MotorControllerFrameDecoder decoder(device);
  CaptureStatusFrames(source, decoder.Slots(), decoder.SlotCount(), decoder.DeviceNumber(),
                      decoder.RequiredSlots());
  const _MotorControlFrames_t frames = decoder.PrivateGetFrames();
  return Close(MotControl_SelfTest(frames, device, decoder.IsBrushless(), out), kClearsStickyFaults,
               out);
}

int SelfTest_Wren(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  _frame_decoder_t slots[kWrenSlotCount];
  const auto frames = CaptureFamily<_WrenFrames_t>(device, source, kWrenSlots, slots);
  return Close(Wren_SelfTest(frames, device, out), kClearsStickyFaults, out);
}

int SelfTest_CANtap(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  _frame_decoder_t slots[kCANtapSlotCount];
  const auto frames = CaptureFamily<_CANtapFrames_t>(device, source, kCANtapSlots, slots);
  return Close(CANtap_SelfTest(frames, device, out), kToClearStickyFaults, out);
}

int SelfTest_CANdial(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  _frame_decoder_t slots[kCANdialSlotCount];
  const auto frames =
      CaptureFamily<_CANdialFrames_t>(device, source, kCANdialSlots, slots, DeviceNumber(device));
  return Close(CANdial_SelfTest(frames, device, out), kToClearStickyFaults, out);
}

int SelfTest_Pdp(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  RawStatusFrames<4> frames{{status_frame::kPdpCurrents1, status_frame::kPdpCurrents2,
                             status_frame::kPdpCurrents3, status_frame::kPdpFaults},
                            {},
                            {}};
  CaptureRawStatusFrames(source, ViewOf(frames), DeviceNumber(device));
  using Section = int (*)(const uint8_t*, uint32_t, std::ostream&);
  const Section sections[4] = {PDP_SelfTest1, PDP_SelfTest2, PDP_SelfTest3, PDP_SelfTest4};
  for (int i = 0; i < 4; ++i) {
    if (!frames.received[i]) return QUOR_DI_NormalModeMsgNotPresent;
    sections[i](frames.data[i], FirmwareVersion(device), out);
  }
  return Close(QUOR_DI_OKAY, kToClearStickyFaults, out);
}

int SelfTest_Pcm(const _Device& device, StatusFrameSource& source, std::ostream& out) {
  RawStatusFrames<2> frames{{status_frame::kPcmStatus, status_frame::kPcmFaults}, {}, {}};
  CaptureRawStatusFrames(source, ViewOf(frames), DeviceNumber(device));
  if (!frames.received[0] || !frames.received[1]) return QUOR_DI_NormalModeMsgNotPresent;
  return Close(PCM_SelfTest(frames.data[0], frames.data[1], FirmwareVersion(device), out),
               kToClearStickyFaultsPcm, out);
}

}  // namespace quor::tessera::diagnostics
