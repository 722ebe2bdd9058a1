#include "sim/status_broadcaster.h"

#include <algorithm>

#include "sim/family_traits.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {
namespace {

constexpr uint64_t kMicrosPerMilli = 1000;
constexpr uint32_t kScrambleModes = 4;

}  // namespace

StatusBroadcaster::StatusBroadcaster(FrameSink& sink, DeviceFamily family)
    : sink_(sink), deviceType_(TraitsOf(family).deviceType), table_(StatusFramesOf(family)) {}

void StatusBroadcaster::start(uint64_t now_us) {
  running_ = true;
  due_us_.fill(now_us);
  sent_.fill(0);
}

void StatusBroadcaster::stop() { running_ = false; }

bool StatusBroadcaster::Omitted(const BroadcastOptions& options, uint16_t api) {
  return options.omitAll || std::find(options.omittedApis.begin(), options.omittedApis.end(),
                                      api) != options.omittedApis.end();
}

uint8_t StatusBroadcaster::ModeFor(ScramblePolicy policy, uint32_t sequence) {
  switch (policy) {
    case ScramblePolicy::kPlain:
      return wire::kScrambleModePlain;
    case ScramblePolicy::kShort:
      return wire::kScrambleModeShort;
    case ScramblePolicy::kLong:
      return wire::kScrambleModeLong;
    case ScramblePolicy::kVary:
      break;
  }
  return static_cast<uint8_t>(sequence % kScrambleModes);
}

void StatusBroadcaster::poll(const DeviceAttributes& device, uint64_t now_us) {
  if (!running_) return;
  for (size_t i = 0; i < table_.count; ++i) {
    if (due_us_[i] > now_us) continue;
    const StatusFrameType& type = table_.frames[i];
    if (!Omitted(device.state.broadcast, type.api)) send(device, type, sent_[i]++);
    const uint64_t period_us = type.period_ms * kMicrosPerMilli;
    due_us_[i] += period_us * (1 + (now_us - due_us_[i]) / period_us);
  }
}

uint64_t StatusBroadcaster::nextDeadline_us(const BroadcastOptions& options) const {
  uint64_t next = kNever;
  if (!running_) return next;
  for (size_t i = 0; i < table_.count; ++i) {
    if (!Omitted(options, table_.frames[i].api)) next = std::min(next, due_us_[i]);
  }
  return next;
}

void StatusBroadcaster::send(const DeviceAttributes& device, const StatusFrameType& type,
                             uint32_t sequence) {
  CanStreamMessage frame{};
  frame.messageID = wire::MakeStatusId(deviceType_, type.api, device.deviceNumber);
  frame.dataSize = kStatusFrameLength;
  const bool scramble = type.pack(device, frame.data);
  if (scramble && type.scramble != ScrambleRoutine::kNone) {
    ScrambleStatusFrame(frame.data, type.scramble, ModeFor(device.state.broadcast.scramble, sequence),
                        type.modeBit, device.deviceNumber);
  }
  sink_.sendFrame(frame);
}

}  // namespace quor::tessera::sim
