// Status frames of the power-distribution panel. Currents are 10-bit readings packed six to a
// frame, most significant bit first from d0 bit 7; firmware up to 1.24 (version 280) measures
// with the older scalings.
#include "sim/status_frame_fields.h"
#include "sim/status_frames.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

using namespace fields;

constexpr uint16_t kLastOldScalingVersion = 280;
constexpr double kCurrentAmpsPerUnit = 0.125;
constexpr double kOldCurrentAmpsPerUnit = 0.067245119;
constexpr double kOldCurrentOffset_A = 1.527114967;
constexpr double kBatteryVoltsPerUnit = 0.05;
constexpr double kBatteryOffset_V = 4.0;
constexpr double kOldBatteryVoltsPerUnit = 0.0554413328606877;
constexpr double kTemperaturePerUnit_C = 1.03258849283384;
constexpr double kTemperatureOffset_C = -67.8564500484966;
constexpr int kChannelBits = 10;
constexpr int kChannelsPerFrame = 6;
constexpr int32_t kMaxChannelUnits = (1 << kChannelBits) - 1;
constexpr int32_t kMaxByte = 0xFF;
constexpr int kBatteryByte = 6;
constexpr int kTemperatureByte = 7;

bool OldScalings(const DeviceAttributes& device) {
  return FirmwareVersionNumber(device) <= kLastOldScalingVersion;
}

int32_t ChannelUnits(const DeviceAttributes& device, double amps) {
  if (OldScalings(device)) {
    return ToUnits(amps, kOldCurrentAmpsPerUnit, kOldCurrentOffset_A, 0, kMaxChannelUnits);
  }
  return ToUnits(amps, kCurrentAmpsPerUnit, 0, kMaxChannelUnits);
}

void PackChannels(const DeviceAttributes& device, int firstChannel, int count, uint8_t* d) {
  for (int i = 0; i < count; ++i) {
    const double amps = device.state.pdp.channelCurrent_A[firstChannel + i];
    PutStreamBits(d, i * kChannelBits, kChannelBits,
                  static_cast<uint32_t>(ChannelUnits(device, amps)));
  }
}

bool PackCurrents0(const DeviceAttributes& device, uint8_t* d) {
  PackChannels(device, 0, kChannelsPerFrame, d);
  return false;
}

bool PackCurrents1(const DeviceAttributes& device, uint8_t* d) {
  PackChannels(device, kChannelsPerFrame, kChannelsPerFrame, d);
  return false;
}

// Channels 12-15, then the battery voltage and the temperature.
bool PackCurrents2(const DeviceAttributes& device, uint8_t* d) {
  const PdpState& pdp = device.state.pdp;
  PackChannels(device, 2 * kChannelsPerFrame, kPdpChannels - 2 * kChannelsPerFrame, d);
  d[kBatteryByte] = static_cast<uint8_t>(
      OldScalings(device)
          ? ToUnits(pdp.batteryVoltage_V, kOldBatteryVoltsPerUnit, 0, kMaxByte)
          : ToUnits(pdp.batteryVoltage_V, kBatteryVoltsPerUnit, kBatteryOffset_V, 0, kMaxByte));
  d[kTemperatureByte] = static_cast<uint8_t>(
      ToUnits(pdp.temperature_C, kTemperaturePerUnit_C, kTemperatureOffset_C, 0, kMaxByte));
  return false;
}

bool PackFaults(const DeviceAttributes& device, uint8_t* d) {
  const PdpState& pdp = device.state.pdp;
  PutBigEndian(d, 0, 2, static_cast<uint32_t>(pdp.faultBits));
  PutBigEndian(d, 2, 2, static_cast<uint32_t>(pdp.stickyFaultBits));
  PutFlag(d[4], 3, pdp.hardwareFault);
  PutFlag(d[4], 4, pdp.stickyTemperatureFault);
  PutFlag(d[4], 5, pdp.stickyBatteryFault);
  PutFlag(d[4], 6, pdp.temperatureFault);
  PutFlag(d[4], 7, pdp.batteryFault);
  return false;
}

constexpr ScrambleRoutine kPlain = ScrambleRoutine::kNone;

// All four within every self-test capture window of the panel (50 ms).
constexpr StatusFrameType kPdp[] = {
    {wire::kPdpCurrents0Api, 20, PackCurrents0, kPlain, 0},
    {wire::kPdpCurrents1Api, 20, PackCurrents1, kPlain, 0},
    {wire::kPdpCurrents2Api, 20, PackCurrents2, kPlain, 0},
    {wire::kPdpFaultsApi, 20, PackFaults, kPlain, 0},
};

}  // namespace

StatusFrameTable PdpStatusFrames() { return {kPdp, sizeof kPdp / sizeof kPdp[0]}; }

}  // namespace quor::tessera::sim
