#include "selftest/wren_report.h"

#include "device/error_codes.h"
#include "selftest/bit_join.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"
#include "selftest/wren_status.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kOldestSupportedFirmware = 0x0400;
constexpr double kDegreesPerUnit = 0.0439453125;        // 360 / 8192
constexpr double kTiltDegreesPerUnit = 0.010986328125;  // 90 / 8192
constexpr double kQuaternionPerUnit = 1.0 / 2047;
constexpr double kDpsPerUnit = 1.0 / 16.4;
constexpr double kMicroteslaPerUnit = 0.15;

int32_t Signed16(const uint8_t* d, int first) {
  return Decode_ToInt32<8, 8>(d[first], d[first + 1]);
}

std::string Degrees(int32_t value) { return FloatToStr_Signed(value, kDegreesPerUnit, 0, 3); }

// "(x, y, z)" of the three signed 16-bit pairs in d0-d5.
std::string Triple(const uint8_t* d, double scale, int decimals) {
  return "(" + FloatToStr_Signed(Signed16(d, 0), scale, 0, decimals) + ", " +
         FloatToStr_Signed(Signed16(d, 2), scale, 0, decimals) + ", " +
         FloatToStr_Signed(Signed16(d, 4), scale, 0, decimals) + ")";
}

void WriteTemperatureCalibration(const WrenImu__GeneralStatus& s, std::ostream& out) {
  switch (s.temperatureCalibrationStatus) {
    case 0:
      out << "Temperature Calibration exists.  This particular IMU is temperature insensitive.\n";
      break;
    case 1:
      out << (s.tempCompensationDisabledByUser
                  ? "Temperature Calibration exists, but compensation is disabled by user."
                  : "Temperature Calibration exists, Yaw will be temperature compensated.")
          << "\n";
      break;
    case 3:
      out << "Temperature Calibration Not Present.  Recommendation is to perform Temperature "
             "Calibration. \n";
      break;
    default: break;
  }
}

void WriteGeneral(const uint8_t* frame, std::ostream& out) {
  const WrenImu__GeneralStatus s = WrenImu__GetGeneralStatus(frame);
  out << "Description:" << s.description << "\n";
  out << "Wren State:" << WrenImu__ToString(s.state) << "\n";
  out << (s.InCalibration() ? "Selected CAL mode:" : "Last CAL mode:")
      << WrenImu__ToString(s.calibrationMode) << "\n";
  out << (s.InCalibration() ? "Current CAL err:" : "Last CAL err:") << s.calibrationError << "\n";
  out << "\n";
  out << "TempC:" << s.temperature_C << "\n";
  out << "UpTime:" << s.upTime_s << " seconds"
      << "\n";
  out << "noMotionBiasCount:" << s.noMotionBiasCount << "\n";
  out << "tempCompensationCount:" << s.tempCompensationCount << "\n";
  WriteTemperatureCalibration(s, out);
  out << (s.tempCompensationDisabledByUser ? "User Disabled Temperature Compensation." : "")
      << "\n";
}

void WriteOrientation(const _WrenFrames_t& f, std::ostream& out) {
  if (const uint8_t* d = f.sixDegYpr) {
    out << "Yaw:" << Degrees(Decode_ToInt32<8, 8, 8>(d[0], d[1], d[2])) << " '"
        << "\n";
    out << "Pitch:" << Degrees(Decode_ToInt32<8, 4>(d[3], d[4] >> 4)) << " '"
        << "\n";
    out << "Roll:" << Degrees(Decode_ToInt32<4, 8>(d[4] & 0x0F, d[5])) << " '"
        << "\n";
    out << "\n";
  }
  if (const uint8_t* d = f.condStatus2) {
    out << "Compass (continuous):" << Degrees(Decode_ToInt32<4, 8, 8>(d[5] & 0x0F, d[6], d[7]))
        << " '"
        << "\n";
    out << "Compass (bounded):" << FloatToStr(Decode_ToUInt32<5, 8>(d[6], d[7]), kDegreesPerUnit, 3)
        << " '"
        << "\n";
  }
  if (const uint8_t* d = f.sensorFusion) {
    out << "Fused heading:" << Degrees(Decode_ToInt32<8, 8, 4>(d[0], d[1], d[2] >> 4)) << " '"
        << "\n";
    out << "FuseFlags:" << (d[2] & 0x0F) << "\n";
    out << "GoodCriteriaCnt:" << (d[3] & 0x0F) << "\n";
    out << "\n";
    out << "Faults:" << int{d[4]} << "\n";
    out << "StickyFlts:" << int{d[5]} << "\n";
    out << "\n";
  }
}

void WriteQuaternionAndTilt(const _WrenFrames_t& f, std::ostream& out) {
  if (const uint8_t* d = f.sixDegQuat1) {
    const auto q = [](int32_t value) { return FloatToStr_Signed(value, kQuaternionPerUnit, 0, 6); };
    out << "Quaternion (w,x,y,z): " << q(Decode_ToInt32<8, 4>(d[0], d[1] >> 4)) << ", "
        << q(Decode_ToInt32<4, 8>(d[1] & 0x0F, d[2])) << ", "
        << q(Decode_ToInt32<8, 4>(d[3], d[4] >> 4)) << ", "
        << q(Decode_ToInt32<4, 8>(d[4] & 0x0F, d[5])) << "\n";
    out << "\n";
  }
  if (const uint8_t* d = f.generalAccel) {
    const char* labels[] = {"Accel Tilt X to Z:", "Accel Tilt Y to Z:", "Accel Tilt X to Y:"};
    for (int i = 0; i < 3; ++i)
      out << labels[i] << FloatToStr_Signed(Signed16(d, 2 * i), kTiltDegreesPerUnit, 0, 2) << " '"
          << "\n";
    out << "\n";
  }
}

void WriteSensors(const _WrenFrames_t& f, std::ostream& out) {
  if (f.biasedGyro)
    out << "Gyro: " << Triple(f.biasedGyro, kDpsPerUnit, 2) << " dps"
        << "\n";
  if (const uint8_t* d = f.gyroAccum) {
    out << "Accum Gyro: (" << Degrees(Signed16(d, 0)) << ", " << Degrees(Signed16(d, 2)) << ", "
        << Degrees(Decode_ToInt32<8, 8, 4>(d[4], d[5], d[6] >> 4)) << ") deg"
        << "\n";
  }
  if (f.biasedMag) {
    out << "Mag: " << Triple(f.biasedMag, 1.0, 2) << " units"
        << "\n";
    if (f.condStatus2)
      out << "Mag Strength:"
          << FloatToStr_Signed(Signed16(f.condStatus2, 2), kMicroteslaPerUnit, 0, 2) << "uT"
          << "\n";
  }
  if (f.biasedAccel)
    out << "Accel: " << Triple(f.biasedAccel, 1.0, 2) << " units"
        << "\n";
}

void WriteFlags(const uint8_t* frame, std::ostream& out) {
  const WrenImu__GeneralStatus s = WrenImu__GetGeneralStatus(frame);
  if (s.bootCalibrating)
    out << "Calibration Mode will begin once Gyro/Accel settles"
        << "\n";
  if (!s.autoGyroBiasing)
    out << "Automatic gyro biasing during no-motion is disabled."
        << "\n";
  if (s.tempCompensationDisabledByUser)
    out << "Temperature Compensation for Gyro disabled."
        << "\n";
  out << "\n";
  out << "FRC Locked:" << Bit01(s.frcLocked) << "\n";
}

}  // namespace

int Wren_SelfTest(const _WrenFrames_t& frames, const _Device& device, std::ostream& out) {
  WriteFirmwareWarning(device, kOldestSupportedFirmware, out);
  if (frames.condStatus1) WriteGeneral(frames.condStatus1, out);
  WriteOrientation(frames, out);
  WriteQuaternionAndTilt(frames, out);
  WriteSensors(frames, out);
  if (frames.condStatus1) WriteFlags(frames.condStatus1, out);
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
