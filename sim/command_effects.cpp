#include "sim/command_effects.h"

#include <cstring>

#include "sim/family_traits.h"
#include "sim/sim_wire.h"

namespace quor::tessera::sim {
namespace {

// The IMU's state code while a user calibration runs (14 is ready).
constexpr int32_t kImuUserCalibration = 15;

// The raw sticky-fault clear a family listens for; nullptr for the families that take "C5 00".
const wire::RawStickyFaultClear* RawStickyFaultClearOf(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::kPdp:
      return &wire::kPdpClearStickyFaults;
    case DeviceFamily::kPcm:
      return &wire::kPcmClearStickyFaults;
    case DeviceFamily::kWren:
      return &wire::kImuClearStickyFaults;
    default:
      return nullptr;
  }
}

}  // namespace

bool CommandEffects::clearsStickyFaultsOverIso() const {
  return RawStickyFaultClearOf(family_) == nullptr;
}

bool CommandEffects::onRawFrame(const CanStreamMessage& frame, uint8_t deviceNumber,
                                DeviceState& state) {
  const uint8_t type = TraitsOf(family_).deviceType;
  if (const wire::RawStickyFaultClear* clear = RawStickyFaultClearOf(family_)) {
    if (frame.messageID == wire::MakeArbId(type, clear->apiClass, clear->apiIndex, deviceNumber)) {
      if (frame.dataSize >= clear->length && (frame.data[clear->flagByte] & wire::kClearFlag))
        clearStickyFaults(state);
      return true;
    }
  }
  if (family_ == DeviceFamily::kWren &&
      frame.messageID == wire::MakeArbId(type, wire::kImuCalibrationApiClass,
                                         wire::kImuCalibrationApiIndex, deviceNumber)) {
    if (frame.dataSize == sizeof wire::kImuCalibrationFrame &&
        std::memcmp(frame.data, wire::kImuCalibrationFrame, frame.dataSize) == 0) {
      state.imu.stateCode = kImuUserCalibration;  // its status frames say so from now on
      ++calibrationsStarted_;
    }
    return true;
  }
  return false;
}

void CommandEffects::blink(uint64_t now_us) {
  ++ledBlinks_;
  blinkUntil_us_ = now_us + kBlinkDuration_us;
}

void CommandEffects::clearStickyFaults(DeviceState& state) {
  switch (family_) {
    case DeviceFamily::kKestrelKx:
    case DeviceFamily::kKestrelKf:
    case DeviceFamily::kHarrierHx:
      state.motor.stickyFaults = 0;
      break;
    case DeviceFamily::kPdp:
      state.pdp.stickyFaultBits = 0;
      state.pdp.stickyTemperatureFault = false;
      state.pdp.stickyBatteryFault = false;
      break;
    case DeviceFamily::kPcm:
      state.pcm.stickyFaults = 0;
      break;
    case DeviceFamily::kWren:
      state.imu.fusionStickyFaults = 0;
      break;
    case DeviceFamily::kCandial:
    case DeviceFamily::kCantap:
      break;
  }
  ++stickyFaultClears_;
}

void CommandEffects::restoreFactoryDefaults() { ++factoryDefaults_; }

}  // namespace quor::tessera::sim
