// Status frames of the pneumatics module. Firmware up to version 294 (and 286 for the solenoid
// voltage) measures with the older scalings.
#include "sim/status_frame_fields.h"
#include "sim/status_frames.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr uint16_t kLastOldBatteryVersion = 294;
constexpr uint16_t kLastOldSolenoidVersion = 286;
constexpr double kBatteryVoltsPerUnit = 0.05;
constexpr double kBatteryOffset_V = 4.0;
constexpr double kOldBatteryVoltsPerUnit = 0.0590420332355816;
constexpr double kSolenoidVoltsPerUnit = 0.03125;
constexpr double kOldSolenoidVoltsPerUnit = 0.0247800586510264;
constexpr double kCompressorAmpsPerUnit = 0.03125;
constexpr double kOldCompressorAmpsPerUnit = 0.0201612903225806;
constexpr int32_t kMaxByte = 0xFF;
constexpr int32_t kMax10 = 0x3FF;

bool Has(uint32_t word, uint32_t fault) { return (word & fault) != 0; }

bool PackStatus(const DeviceAttributes& device, uint8_t* d) {
  const PcmState& pcm = device.state.pcm;
  const uint16_t version = FirmwareVersionNumber(device);
  const bool oldBattery = version <= kLastOldBatteryVersion;
  d[0] = SaturateByte(pcm.solenoids);
  PutFlag(d[1], 0, pcm.compressorOn);
  PutFlag(d[1], 1, Has(pcm.stickyFaults, kPcmFaultSolenoidFuse));
  PutFlag(d[1], 2, Has(pcm.stickyFaults, kPcmFaultCompressorCurrentHigh));
  PutFlag(d[1], 3, Has(pcm.faults, kPcmFaultSolenoidFuse));
  PutFlag(d[1], 4, Has(pcm.faults, kPcmFaultCompressorCurrentHigh));
  PutFlag(d[1], 5, pcm.hardwareFault);
  PutFlag(d[1], 6, pcm.closedLoop);
  PutFlag(d[1], 7, pcm.pressureFull);
  d[2] = static_cast<uint8_t>(
      oldBattery
          ? ToUnits(pcm.batteryVoltage_V, kOldBatteryVoltsPerUnit, 0, kMaxByte)
          : ToUnits(pcm.batteryVoltage_V, kBatteryVoltsPerUnit, kBatteryOffset_V, 0, kMaxByte));
  const double solenoidUnit = version <= kLastOldSolenoidVersion ? kOldSolenoidVoltsPerUnit
                                                                 : kSolenoidVoltsPerUnit;
  const double compressorUnit = oldBattery ? kOldCompressorAmpsPerUnit : kCompressorAmpsPerUnit;
  PutStreamBits(d, 24, 10,  // d3, d4 bits 7-6
                static_cast<uint32_t>(ToUnits(pcm.solenoidVoltage_V, solenoidUnit, 0, kMax10)));
  PutStreamBits(d, 34, 10,  // d4 bits 5-0, d5 bits 7-4
                static_cast<uint32_t>(ToUnits(pcm.compressorCurrent_A, compressorUnit, 0, kMax10)));
  PutFlag(d[5], 0, Has(pcm.stickyFaults, kPcmFaultCompressorShort));
  PutFlag(d[5], 1, Has(pcm.faults, kPcmFaultCompressorShort));
  PutFlag(d[5], 2, pcm.enabled);
  return false;
}

bool PackFaults(const DeviceAttributes& device, uint8_t* d) {
  const PcmState& pcm = device.state.pcm;
  d[0] = SaturateByte(pcm.solenoidFaults);
  PutFlag(d[1], 4, Has(pcm.stickyFaults, kPcmFaultCompressorNotConnected));
  PutFlag(d[1], 5, Has(pcm.faults, kPcmFaultCompressorNotConnected));
  return false;
}

constexpr StatusFrameType kPcm[] = {
    {wire::kPcmStatusApi, 20, PackStatus, ScrambleRoutine::kNone, 0},
    {wire::kPcmFaultsApi, 20, PackFaults, ScrambleRoutine::kNone, 0},
};

}  // namespace

StatusFrameTable PcmStatusFrames() { return {kPcm, sizeof kPcm / sizeof kPcm[0]}; }

}  // namespace quor::tessera::sim
