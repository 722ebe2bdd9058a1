// The engine's field-upgrade operations: the procedure with its result message, the image's
// compatibility with the bootloader, and the progress other threads read.
#include <string>

#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/field_upgrade.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"

namespace {

constexpr uint16_t kImageWithoutVersion = 0xFFFF;
// States above the engine's own (0..7) would mean the upgrade is done with as far as the
// progress goes.
constexpr int32_t kHighestKnownState = 7;
constexpr int kProgressOutsideAnyStage = 100;

}  // namespace

int QuorDeviceInterface::updateFirmware(const DeviceDescriptor* descriptor,
                                        const unsigned char* file, unsigned length,
                                        char* message, int messageSize) {
  const int result = updateFirmware2(descriptor, file, length, message, messageSize);
  lastUpdateResult_ = result;
  const DeviceDescriptor* named = descriptor ? GetDescriptor(descriptor->arbId) : nullptr;
  WriteUpdateMessage(named != nullptr ? named : descriptor, result, message, messageSize);
  CrankMaxPerformance();
  return result;
}

void QuorDeviceInterface::WriteUpdateMessage(const DeviceDescriptor* named, int result,
                                             char* message, int messageSize) {
  std::string text;
  if (result != QUOR_DI_OKAY)
    text = (named ? TextFieldValue(named->name) : std::string()) + " : " + ErrToString(result);
  if (message != nullptr && messageSize >= 1)
    SetTextField(message, static_cast<size_t>(messageSize), text);
}

bool QuorDeviceInterface::AcceptUpgrade() {
  bool expected = false;
  if (!upgradeAccepted_.compare_exchange_strong(expected, true)) return false;
  updateProgress_ = 0;
  return true;
}

void QuorDeviceInterface::EndUpgrade() { upgradeAccepted_ = false; }

int QuorDeviceInterface::updateFirmware2(const DeviceDescriptor* descriptor,
                                         const unsigned char* file, unsigned length,
                                         char* /*message*/, int /*messageSize*/) {
  FieldUpgrade upgrade(*this, descriptor, file, length);
  return upgrade.Run();
}

int QuorDeviceInterface::checkBflCompatibility(const DeviceDescriptor* descriptor,
                                               const _Device* device,
                                               uint16_t fileVersion) const {
  // A bootloader that reported no minimum takes any image.
  if (descriptor == nullptr || !(descriptor->respFlags & resp_flag::kAppCheckExtra))
    return QUOR_DI_OKAY;
  if (fileVersion == kImageWithoutVersion) return QUOR_DI_AppTooOld;
  const uint16_t minimum =
      device ? static_cast<uint16_t>((device->extraStatus[0] << 8) | device->extraStatus[1]) : 0;
  return fileVersion < minimum ? QUOR_DI_AppTooOld : QUOR_DI_OKAY;
}

void QuorDeviceInterface::checkUpdateProgress(int* percent, bool* inProgress) const {
  const int32_t state = state_.load();
  const bool upgrading = upgradeAccepted_.load() ||
                         (state >= kUpgradeEnteringBootloader && state <= kUpgradeFinishing);
  int value = 0;
  if (upgrading) {
    value = updateProgress_.load();
  } else if (state < kIdle || state > kHighestKnownState) {
    value = kProgressOutsideAnyStage;
  }
  if (percent != nullptr) *percent = value;
  if (inProgress != nullptr) *inProgress = upgrading;
}
