#include "selftest/wren_status.h"

#include "selftest/bit_join.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kReadyStateCode = 14;
constexpr uint32_t kUserCalibrationStateCodes[] = {15, 16};

// Fields of the frame read as one little-endian 64-bit value.
uint32_t Field(uint64_t frame, int shift, uint32_t mask) {
  return static_cast<uint32_t>(frame >> shift) & mask;
}

std::string UserCalibrationText(WrenImu__CalibrationMode mode) {
  switch (mode) {
    case WrenImu__BootTareGyroAccel:
      return "Boot-Calibration: Gyro and Accelerometer are being biased.";
    case WrenImu__Temperature:
      return "Temperature-Calibration: Wren is collecting temp data and will finish when temp "
             "range is reached.  Do not moved Wren.";
    case WrenImu__Magnetometer12Pt:
      return "Magnetometer Level 1 calibration: Orient the Wren PCB in the 12 positions "
             "documented in the User's Manual.";
    case WrenImu__Magnetometer360:
      return "Magnetometer Level 2 calibration: Spin robot slowly in 360' fashion.  ";
    case WrenImu__Accelerometer:
      return "Accelerometer Calibration: Wren PCB must be placed on a level surface.  Follow "
             "User's Guide for how to level surfacee.  ";
  }
  return "";
}

std::string Description(const WrenImu__GeneralStatus& s) {
  if (s.bootCalibrating)
    return "Wren is boot-caling to properly bias accel and gyro.  Do not move Wren.  When "
           "finished biasing, calibration mode will start.";
  switch (s.state) {
    case WrenImu__UserCalibration: return UserCalibrationText(s.calibrationMode);
    case WrenImu__Ready: return "Wren is running normally.";
    case WrenImu__Initializing:
      return "Wren is boot-caling to properly bias accel and gyro.  Do not move Wren.";
    case WrenImu__NoComm: break;
  }
  return "Not enough data to determine status.";
}

}  // namespace

const char* WrenImu__ToString(WrenImu__WrenState state) {
  switch (state) {
    case WrenImu__NoComm: return "NoComm";
    case WrenImu__Initializing: return "Initializing";
    case WrenImu__Ready: return "Ready";
    case WrenImu__UserCalibration: return "UserCalibration";
  }
  return "Unknown";
}

const char* WrenImu__ToString(WrenImu__CalibrationMode mode) {
  switch (mode) {
    case WrenImu__BootTareGyroAccel: return "BootTareGyroAccel";
    case WrenImu__Temperature: return "Temperature";
    case WrenImu__Magnetometer12Pt: return "Magnetometer12Pt";
    case WrenImu__Magnetometer360: return "Magnetometer360";
    case WrenImu__Accelerometer: return "Accelerometer";
  }
  return "Unknown";
}

bool WrenImu__GeneralStatus::InCalibration() const {
  return bootCalibrating || state == WrenImu__UserCalibration;
}

WrenImu__WrenState WrenImu__GetState(bool noComm, const uint8_t* frame) {
  if (noComm) return WrenImu__NoComm;
  const uint32_t code = Field(Unwrap64bits(frame), 16, 0x1F);
  if (code == kReadyStateCode) return WrenImu__Ready;
  for (uint32_t calibrating : kUserCalibrationStateCodes)
    if (code == calibrating) return WrenImu__UserCalibration;
  return WrenImu__Initializing;
}

double WrenImu__GetTemp(const uint8_t* frame) { return (frame[0] * 256 + frame[1]) / 256.0; }

WrenImu__GeneralStatus WrenImu__GetGeneralStatus(const uint8_t* frame) {
  const uint64_t bits = Unwrap64bits(frame);
  WrenImu__GeneralStatus s{};
  s.state = WrenImu__GetState(false, frame);
  s.calibrationMode = static_cast<WrenImu__CalibrationMode>(Field(bits, 44, 0xF));
  s.calibrationError = Decode_ToInt32<4>(Field(bits, 40, 0xF));
  s.bootCalibrating = Field(bits, 24, 1) != 0;
  s.temperature_C = WrenImu__GetTemp(frame);
  s.upTime_s = Field(bits, 56, 0xFF);
  s.noMotionBiasCount = Field(bits, 36, 0xF);
  s.tempCompensationCount = Field(bits, 32, 0xF);
  s.autoGyroBiasing = Field(bits, 25, 1) != 0;
  s.frcLocked = Field(bits, 26, 1) != 0;
  s.temperatureCalibrationStatus = static_cast<uint8_t>(Field(bits, 40, 0x3));
  s.tempCompensationDisabledByUser = Field(bits, 42, 1) != 0;
  s.description = Description(s);
  return s;
}

}  // namespace quor::tessera::diagnostics
