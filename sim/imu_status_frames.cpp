// Status frames of the IMU: conditioned status N at 0x2000 + (N-1)*0x40, biased status N at
// 0x1C00 + (N-1)*0x40. Angles travel in units of 360/8192 degrees.
#include "sim/status_frame_fields.h"
#include "sim/status_frames.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr double kDegreesPerUnit = 360.0 / 8192;
constexpr double kTiltDegreesPerUnit = 90.0 / 8192;
constexpr double kQuaternionPerUnit = 1.0 / 2047;
constexpr double kGyroDpsPerUnit = 1.0 / 16.4;
constexpr double kMagneticStrengthPerUnit_uT = 0.15;
constexpr double kTemperaturePerUnit_C = 1.0 / 256;
constexpr int32_t kMaxUnsigned16 = 0xFFFF;

int32_t Signed(double value, double unit, int bits) {
  const int32_t maximum = (1 << (bits - 1)) - 1;
  return ToUnits(value, unit, -maximum - 1, maximum);
}

void PutSigned16(uint8_t* d, int first, int32_t value) {
  PutBigEndian(d, first, 2, static_cast<uint32_t>(SaturateSigned(value, 16)));
}

void PutTriple(uint8_t* d, const std::array<int32_t, 3>& values) {
  for (int i = 0; i < 3; ++i) PutSigned16(d, 2 * i, values[i]);
}

bool PackGeneral(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  PutBigEndian(d, 0, 2,
               static_cast<uint32_t>(
                   ToUnits(imu.temperature_C, kTemperaturePerUnit_C, 0, kMaxUnsigned16)));
  PutBits(d[2], 0, 5, static_cast<uint32_t>(imu.stateCode));
  PutFlag(d[3], 0, imu.bootCalibrating);
  PutFlag(d[3], 1, imu.noMotionBiasingEnabled);
  PutFlag(d[3], 2, imu.frcLocked);
  PutBits(d[4], 4, 4, static_cast<uint32_t>(imu.noMotionBiasCount));
  PutBits(d[4], 0, 4, static_cast<uint32_t>(imu.temperatureCompensationCount));
  PutBits(d[5], 4, 4, static_cast<uint32_t>(imu.calibrationMode));
  PutBits(d[5], 0, 4, static_cast<uint32_t>(imu.calibrationError));
  d[7] = SaturateByte(imu.upTime_s);
  return false;
}

// Compass heading as a 20-bit signed count (d5 bits 3-0, d6, d7); its low 13 bits are the
// heading bounded to one turn.
bool PackCompass(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  PutSigned16(d, 2, Signed(imu.magneticStrength_uT, kMagneticStrengthPerUnit_uT, 16));
  PutStreamBits(d, 44, 20, static_cast<uint32_t>(Signed(imu.compass_deg, kDegreesPerUnit, 20)));
  return false;
}

bool PackTilt(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  for (int i = 0; i < 3; ++i) PutSigned16(d, 2 * i, Signed(imu.tilt_deg[i], kTiltDegreesPerUnit, 16));
  return true;
}

bool PackFusion(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  PutStreamBits(d, 0, 20,
                static_cast<uint32_t>(Signed(imu.fusedHeading_deg, kDegreesPerUnit, 20)));
  PutBits(d[2], 0, 4, static_cast<uint32_t>(imu.fusionFlags));
  PutBits(d[3], 0, 4, static_cast<uint32_t>(imu.goodCriteriaCount));
  d[4] = SaturateByte(imu.fusionFaults);
  d[5] = SaturateByte(imu.fusionStickyFaults);
  return true;
}

bool PackYawPitchRoll(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  PutStreamBits(d, 0, 24, static_cast<uint32_t>(Signed(imu.yaw_deg, kDegreesPerUnit, 24)));
  PutStreamBits(d, 24, 12, static_cast<uint32_t>(Signed(imu.pitch_deg, kDegreesPerUnit, 12)));
  PutStreamBits(d, 36, 12, static_cast<uint32_t>(Signed(imu.roll_deg, kDegreesPerUnit, 12)));
  return true;
}

// w, x, y, z as four 12-bit counts back to back.
bool PackQuaternion(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  for (int i = 0; i < 4; ++i) {
    PutStreamBits(d, 12 * i, 12,
                  static_cast<uint32_t>(Signed(imu.quaternion[i], kQuaternionPerUnit, 12)));
  }
  return true;
}

bool PackAccumulatedGyro(const DeviceAttributes& device, uint8_t* d) {
  const std::array<double, 3>& gyro = device.state.imu.accumulatedGyro_deg;
  PutSigned16(d, 0, Signed(gyro[0], kDegreesPerUnit, 16));
  PutSigned16(d, 2, Signed(gyro[1], kDegreesPerUnit, 16));
  PutStreamBits(d, 32, 20, static_cast<uint32_t>(Signed(gyro[2], kDegreesPerUnit, 20)));
  return true;
}

bool PackNothing(const DeviceAttributes&, uint8_t*) { return false; }

bool PackGyro(const DeviceAttributes& device, uint8_t* d) {
  const ImuState& imu = device.state.imu;
  for (int i = 0; i < 3; ++i) PutSigned16(d, 2 * i, Signed(imu.gyro_dps[i], kGyroDpsPerUnit, 16));
  return true;
}

bool PackMagnetometer(const DeviceAttributes& device, uint8_t* d) {
  PutTriple(d, device.state.imu.magnetometer);
  return true;
}

bool PackAccelerometer(const DeviceAttributes& device, uint8_t* d) {
  PutTriple(d, device.state.imu.accelerometer);
  return true;
}

using wire::ImuBiasedApi;
using wire::ImuConditionedApi;
constexpr ScrambleRoutine kP = ScrambleRoutine::kImu;
constexpr ScrambleRoutine kPlain = ScrambleRoutine::kNone;
constexpr uint8_t kMode = wire::kModeBitLow;

// clang-format off
constexpr StatusFrameType kImu[] = {
  {ImuConditionedApi(1),  100, PackGeneral,         kPlain, 0},
  {ImuConditionedApi(2),  100, PackCompass,         kPlain, 0},
  {ImuConditionedApi(3),  100, PackTilt,            kP,     kMode},
  {ImuConditionedApi(6),  100, PackFusion,          kP,     kMode},
  {ImuConditionedApi(9),  10,  PackYawPitchRoll,    kP,     kMode},
  {ImuConditionedApi(10), 100, PackQuaternion,      kP,     kMode},
  {ImuConditionedApi(11), 100, PackAccumulatedGyro, kP,     kMode},
  {ImuConditionedApi(15), 100, PackNothing,         kPlain, 0},
  {ImuConditionedApi(16), 100, PackNothing,         kPlain, 0},
  {ImuBiasedApi(2),       100, PackGyro,            kP,     kMode},
  {ImuBiasedApi(4),       100, PackMagnetometer,    kP,     kMode},
  {ImuBiasedApi(6),       100, PackAccelerometer,   kP,     kMode},
};
// clang-format on

}  // namespace

StatusFrameTable ImuStatusFrames() { return {kImu, sizeof kImu / sizeof kImu[0]}; }

}  // namespace quor::tessera::sim
