// Status frames of the CAN I/O board: frame 0 general, frame 1 general at 10 ms, frames 2-5 the
// four PWM inputs.
#include "sim/status_frame_fields.h"
#include "sim/status_frames.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr double kBatteryVoltsPerUnit = 0.1;
constexpr double kBatteryOffset_V = 4.0;
constexpr double kLedPercentPerUnit = 100.0 / 1023;
constexpr int32_t kMaxLedUnits = 1023;
constexpr int32_t kMaxByte = 0xFF;
constexpr int kLedBits = 10;
constexpr int kPinBits = 11;

bool PackGeneral(const DeviceAttributes& device, uint8_t* d) {
  const IoBoardState& io = device.state.ioBoard;
  for (int led = 0; led < kIoBoardLeds; ++led) {
    PutStreamBits(d, led * kLedBits, kLedBits,
                  static_cast<uint32_t>(
                      ToUnits(io.ledDuty_percent[led], kLedPercentPerUnit, 0, kMaxLedUnits)));
  }
  PutFlag(d[3], 0, io.zeroOnIndexPolarity);
  PutFlag(d[3], 1, io.zeroOnIndexEnabled);
  d[5] = static_cast<uint8_t>(
      ToUnits(io.batteryVoltage_V, kBatteryVoltsPerUnit, kBatteryOffset_V, 0, kMaxByte));
  return false;
}

bool PackGeneral10ms(const DeviceAttributes& device, uint8_t* d) {
  const IoBoardState& io = device.state.ioBoard;
  const Times8Flags x8 = PutPositionVelocity(d, 0, io.quadPosition, io.quadVelocity);
  PutStreamBits(d, 45, kPinBits, static_cast<uint32_t>(io.pins));  // d5 bits 2-0, d6
  PutFlag(d[5], 6, x8.velocity);
  PutFlag(d[5], 7, x8.position);
  PutFlag(d[7], 3, io.frcLocked);
  return true;
}

template <int kInput>
bool PackPwm(const DeviceAttributes& device, uint8_t* d) {
  const IoBoardState& io = device.state.ioBoard;
  PutPulseInput(d, io.pwmPosition[kInput], io.pwmVelocity[kInput], io.pwmPeriod_us[kInput]);
  return true;
}

using wire::IoBoardApi;
constexpr ScrambleRoutine kC = ScrambleRoutine::kIoBoard;
constexpr uint8_t kMode = wire::kModeBitLow;

constexpr StatusFrameType kIoBoard[] = {
    {IoBoardApi(0), 100, PackGeneral, ScrambleRoutine::kNone, 0},
    {IoBoardApi(1), 10, PackGeneral10ms, kC, kMode},
    {IoBoardApi(2), 100, PackPwm<0>, kC, kMode},
    {IoBoardApi(3), 100, PackPwm<1>, kC, kMode},
    {IoBoardApi(4), 100, PackPwm<2>, kC, kMode},
    {IoBoardApi(5), 100, PackPwm<3>, kC, kMode},
};

}  // namespace

StatusFrameTable IoBoardStatusFrames() {
  return {kIoBoard, sizeof kIoBoard / sizeof kIoBoard[0]};
}

}  // namespace quor::tessera::sim
