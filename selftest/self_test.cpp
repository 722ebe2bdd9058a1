#include "selftest/self_test.h"

#include <cstring>
#include <sstream>

#include "device/can_id.h"
#include "device/device_record.h"
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "runtime/version.h"
#include "selftest/self_test_steps.h"
#include "selftest/status_frame_source.h"

namespace quor::tessera::diagnostics {

namespace {

using Step = int (*)(const _Device&, StatusFrameSource&, std::ostream&);

struct FamilyStep {
  uint8_t filterMode;  // frame-layer filter for the device's status frames
  Step step;
};

constexpr int kLargestUtf8Tail = 3;

bool ChooseStep(uint32_t arbId, FamilyStep& chosen) {
  namespace mode = frame_filter;
  switch (can_id::DeviceType(arbId)) {
    case device_type::kHarrierHx:
      chosen = {mode::kTypeOneMotorStatus, SelfTest_MotorController};
      return true;
    case device_type::kMotorController:
      // An IMU on a motor controller's ribbon cable is filed under the controller's type on
      // the alternate channel.
      if (can_id::ApiClass(arbId) == api_class::kAlternate)
        chosen = {mode::kRibbonCableImuStatus, SelfTest_Wren};
      else
        chosen = {mode::kTypeTwoMotorStatus, SelfTest_MotorController};
      return true;
    case device_type::kCanTap: chosen = {mode::kIoBoardStatus, SelfTest_CANtap}; return true;
    case device_type::kCanDial: chosen = {mode::kEncoderStatus, SelfTest_CANdial}; return true;
    case device_type::kPdp: chosen = {mode::kPdpStatus, SelfTest_Pdp}; return true;
    case device_type::kPcm: chosen = {mode::kPcmStatus, SelfTest_Pcm}; return true;
    case device_type::kWren: chosen = {mode::kImuStatus, SelfTest_Wren}; return true;
    default: return false;
  }
}

std::string NameOf(const _Device& device) {
  const char* name = device.descriptor.name;
  return std::string(name, strnlen(name, sizeof device.descriptor.name));
}

void WriteFooter(std::ostream& out) {
  out << "\n"
      << "Build:" << version::GetBuildDate() << " " << version::GetBuildTime() << "\n"
      << "Press \"Refresh\" to close."
      << "\n";
}

}  // namespace

void WriteSelfTestExplanation(int32_t result, const std::string& deviceName, std::ostream& out) {
  out << "\n";
  switch (result) {
    case QUOR_DI_NormalModeMsgNotPresent:
      out << deviceName << " : "
          << "Didn't receive any status frames."
          << "\n"
          << "Make sure device is powered and STATUS LED is not red(blink 1Hz).\n"
          << "If STATUS LED is red(blink 1Hz) then CAN is not functioning.\n"
          << "Common causes...\n"
          << "-Termination Resistor is not enabled in PDP or PDP is not at the end of the chain.\n"
          << "-CANH(yellow) or CANL(green) is disconnected.\n"
          << "-Device has no firmware.  If STATUS LED is blinking green/orange, it needs to be "
             "field-upgraded.\n";
      return;
    case QUOR_DI_CouldNotSendCanFrame:
      out << deviceName << " : "
          << "Could not send any CAN frames from RIO."
          << "\n"
          << "Make sure device is powered and STATUS LED is not red(blink 1Hz).\n"
          << "If STATUS LED is red(blink 1Hz) then CAN is not functioning).\n"
          << "Common causes...\n"
          << "-Termination Resistor is not enabled in PDP or PDP is not at the end of the chain.\n"
          << "-CANH(yellow) or CANL(green) is disconnected.\n";
      return;
    case QUOR_DI_InvalidDeviceSpec:
      out << "Error Code : " << QuorDeviceInterface::ErrToString(result) << "\n"
          << "Can't find the selected device in our table.\n"
          << "Common causes...\n"
          << "-Did the RIO or Tessera Tuner just restart?\n"
          << "-Was the Device ID recently changed?  If so wait five seconds and press refresh.\n";
      return;
    default:
      out << deviceName << " : Error Code : " << QuorDeviceInterface::ErrToString(result) << "\n";
  }
}

int BuildSelfTestText(const _Device* device, StatusFrameSource& source, std::string& text) {
  std::ostringstream out;
  FamilyStep family{};
  int result = QUOR_DI_OKAY;
  if (device == nullptr) {
    result = QUOR_DI_InvalidDeviceSpec;
  } else if (!ChooseStep(device->descriptor.arbId, family)) {
    result = QUOR_DI_FeatureNotSupported;
  } else {
    source.Open(family.filterMode, can_id::DeviceNumber(device->descriptor.arbId));
    result = family.step(*device, source, out);
  }
  if (result != QUOR_DI_OKAY) WriteSelfTestExplanation(result, device ? NameOf(*device) : "", out);
  WriteFooter(out);
  text = out.str();
  return result;
}

void CopySelfTestText(const std::string& text, char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return;
  size_t length = text.size() < static_cast<size_t>(capacity) - 1
                      ? text.size()
                      : static_cast<size_t>(capacity) - 1;
  // A cut inside a multi-byte character would reach the JSON answer as a replacement character.
  for (int tail = 0; length < text.size() && length > 0 && tail < kLargestUtf8Tail &&
                     (static_cast<uint8_t>(text[length]) & 0xC0) == 0x80;
       ++tail)
    --length;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace quor::tessera::diagnostics

int QuorDeviceInterface::selfTest(const DeviceDescriptor* descriptor, char* text, int capacity) {
  namespace diag = quor::tessera::diagnostics;
  _Device subject;
  const bool known = descriptor != nullptr && SelfTestSubject(*descriptor, subject);
  SessionFrameSource source;
  std::string report;
  const int result = diag::BuildSelfTestText(known ? &subject : nullptr, source, report);
  diag::CopySelfTestText(report, text, capacity);
  source.Close();
  RequestCrank();
  return result;
}
