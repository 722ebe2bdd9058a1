#pragma once
// The periodic status frames of each family: API value, period, how each is packed from the
// device's state and how it is scrambled. Periods follow the frames' names where they carry
// one (general 10 ms, feedback 20 ms, the 150 ms and 160 ms frames); every period is a
// multiple of 10 ms, so the frames of a robot powered up together fall on one 10 ms grid and
// the simulation thread wakes once per grid step.
#include <cstddef>
#include <cstdint>

#include "sim/device_attributes.h"
#include "sim/scrambler.h"

namespace quor::tessera::sim {

// Packs the plain frame into data[0..7] (zeroed by the caller). Returns false when this frame
// goes out as packed this time, even though its type is normally scrambled.
using PackStatusFrame = bool (*)(const DeviceAttributes& device, uint8_t* data);

struct StatusFrameType {
  uint16_t api;
  uint16_t period_ms;
  PackStatusFrame pack;
  ScrambleRoutine scramble;
  uint8_t modeBit;  // where dword1 carries the scramble mode (scrambled frames only)
};

struct StatusFrameTable {
  const StatusFrameType* frames = nullptr;
  size_t count = 0;
};

// Never more frames than this per family.
constexpr size_t kMaxStatusFrames = 16;
constexpr uint8_t kStatusFrameLength = 8;

StatusFrameTable StatusFramesOf(DeviceFamily family);
// The frame of `family` with API value `api`, or nullptr.
const StatusFrameType* FindStatusFrame(DeviceFamily family, uint16_t api);
// The device's firmware version as major * 256 + minor (scalings of older firmware depend on it).
uint16_t FirmwareVersionNumber(const DeviceAttributes& device);

// Per family, each in its own file.
StatusFrameTable BrushedMotorStatusFrames();
StatusFrameTable BrushlessMotorStatusFrames();
StatusFrameTable PdpStatusFrames();
StatusFrameTable PcmStatusFrames();
StatusFrameTable ImuStatusFrames();
StatusFrameTable EncoderStatusFrames();
StatusFrameTable IoBoardStatusFrames();

}  // namespace quor::tessera::sim
