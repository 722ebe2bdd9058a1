#include "sim/status_frames.h"

namespace quor::tessera::sim {

StatusFrameTable StatusFramesOf(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::kKestrelKx:
    case DeviceFamily::kHarrierHx:
      return BrushedMotorStatusFrames();
    case DeviceFamily::kKestrelKf:
      return BrushlessMotorStatusFrames();
    case DeviceFamily::kPdp:
      return PdpStatusFrames();
    case DeviceFamily::kPcm:
      return PcmStatusFrames();
    case DeviceFamily::kWren:
      return ImuStatusFrames();
    case DeviceFamily::kCandial:
      return EncoderStatusFrames();
    case DeviceFamily::kCantap:
      return IoBoardStatusFrames();
  }
  return {};
}

const StatusFrameType* FindStatusFrame(DeviceFamily family, uint16_t api) {
  const StatusFrameTable table = StatusFramesOf(family);
  for (size_t i = 0; i < table.count; ++i) {
    if (table.frames[i].api == api) return &table.frames[i];
  }
  return nullptr;
}

uint16_t FirmwareVersionNumber(const DeviceAttributes& device) {
  return static_cast<uint16_t>(device.firmware[0] << 8 | device.firmware[1]);
}

}  // namespace quor::tessera::sim
