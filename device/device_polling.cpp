// The information and software-status polls of a discovery round.
#include <thread>

#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"
#include "runtime/event.h"

namespace {

constexpr int kInfoTimeout_ms = 120;
constexpr int kInfoAttempts = 3;
constexpr int kInfoRetryPause_ms = 20;
constexpr int kStatusTimeout_ms = 100;
constexpr int kStatusAttempts = 2;
constexpr int kAppCheckTimeout_ms = 200;

constexpr uint32_t kStatusAnswerBits =
    resp_flag::kStatus | resp_flag::kAppRunning | resp_flag::kCustomNameSupported |
    resp_flag::kConfigReadable | resp_flag::kRivuduvozRoleA | resp_flag::kRivuduvozRoleB;
static_assert(kStatusAnswerBits == 0x310980, "bits a status answer decides");
constexpr uint32_t kAppCheckAnswerBits =
    resp_flag::kAppCheck | resp_flag::kAppFlashed | resp_flag::kAppCheckExtra;

constexpr const char* kRunningText = "Running Application.";
constexpr const char* kBootloaderText = "Bootloader, LED is blinking green/orange.";
constexpr const char* kAppFlashedText = "Bootloader, but App is flashed. Power cycle to boot.";

}  // namespace

int QuorDeviceInterface::PollInfoForDevice(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                           DeviceDescriptor* descriptor, const Event& cancel) {
  static const uint8_t kRequest[] = {request_code::kInfo};
  for (int attempt = 0; attempt < kInfoAttempts; ++attempt) {
    if (attempt > 0) {
      if (cancel.WaitForSignalSet(0)) return QUOR_DI_ListingCancelled;
      std::this_thread::sleep_for(std::chrono::milliseconds(kInfoRetryPause_ms));
    }
    if (RequestAndWait(iso, buffer, capacity, descriptor, kRequest, sizeof kRequest,
                       resp_flag::kInfo, kInfoTimeout_ms)) {
      if (attempt == 1) diag_printf("iso15rx broke but worked after 1st retry\n");
      if (attempt == 2) diag_printf("iso15rx broke but worked after 2nd retry\n");
      descriptor->pollFlags |= poll_flag::kInfoParsed;
      return 0;
    }
  }
  diag_printf("iso15rx broke after three tries.\n");
  return 0;
}

void QuorDeviceInterface::BuildSoftwareStatus(_Iso15765_t* iso, uint8_t* buffer,
                                              uint16_t capacity, DeviceDescriptor* descriptor) {
  static const uint8_t kStatusRequest[] = {request_code::kStatus};
  static const uint8_t kAppCheckRequest[] = {request_code::kAppCheck};
  bool answered = false;
  for (int attempt = 0; attempt < kStatusAttempts && !answered; ++attempt) {
    // Every bit the status answer decides is cleared, so none survives from an earlier answer.
    descriptor->respFlags &= ~kStatusAnswerBits;
    answered = RequestAndWait(iso, buffer, capacity, descriptor, kStatusRequest,
                              sizeof kStatusRequest, resp_flag::kStatus, kStatusTimeout_ms);
  }

  // A cancelled round learned nothing: keep what the device reported last time.
  if (RoundCancelled()) return;
  std::string text;
  if (answered) {
    descriptor->pollFlags |= poll_flag::kStatusObtained;
    if (descriptor->respFlags & resp_flag::kAppRunning) {
      text = kRunningText;
    } else {
      text = kBootloaderText;
      descriptor->respFlags &= ~kAppCheckAnswerBits;
      if (RequestAndWait(iso, buffer, capacity, descriptor, kAppCheckRequest,
                         sizeof kAppCheckRequest, resp_flag::kAppCheck, kAppCheckTimeout_ms) &&
          (descriptor->respFlags & resp_flag::kAppFlashed))
        text += kAppFlashedText;
    }
  }
  CapStringLen(text);
  SetTextField(descriptor->softStatus, text);
}
