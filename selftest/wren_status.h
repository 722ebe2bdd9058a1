#pragma once
// The IMU's general status (conditioned status frame 1) and the vocabulary of its states and
// calibration modes.
#include <cstdint>
#include <string>

namespace quor::tessera::diagnostics {

enum WrenImu__WrenState : int32_t {
  WrenImu__NoComm = 0,
  WrenImu__Initializing = 1,
  WrenImu__Ready = 2,
  WrenImu__UserCalibration = 3,
};

enum WrenImu__CalibrationMode : int32_t {
  WrenImu__BootTareGyroAccel = 0,
  WrenImu__Temperature = 1,
  WrenImu__Magnetometer12Pt = 2,
  WrenImu__Magnetometer360 = 3,
  WrenImu__Accelerometer = 5,
};

const char* WrenImu__ToString(WrenImu__WrenState state);
const char* WrenImu__ToString(WrenImu__CalibrationMode mode);

struct WrenImu__GeneralStatus {
  WrenImu__WrenState state;
  WrenImu__CalibrationMode calibrationMode;
  int32_t calibrationError;  // signed 4-bit
  bool bootCalibrating;
  double temperature_C;
  uint32_t upTime_s;
  uint32_t noMotionBiasCount;
  uint32_t tempCompensationCount;
  bool autoGyroBiasing;  // automatic no-motion gyro biasing enabled
  bool frcLocked;
  uint8_t temperatureCalibrationStatus;  // two bits
  bool tempCompensationDisabledByUser;
  bool InCalibration() const;
  std::string description;
};

// NoComm when `noComm`; else the state from the frame's state code.
WrenImu__WrenState WrenImu__GetState(bool noComm, const uint8_t* frame);
double WrenImu__GetTemp(const uint8_t* frame);
// Decodes conditioned status frame 1, description included.
WrenImu__GeneralStatus WrenImu__GetGeneralStatus(const uint8_t* frame);

}  // namespace quor::tessera::diagnostics
