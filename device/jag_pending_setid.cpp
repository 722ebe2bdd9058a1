#include "device/jag_pending_setid.h"

namespace {

constexpr int32_t kDecisionDelay_ms = 8000;
constexpr int32_t kStep_ms = 20;
constexpr uint32_t kRecentlyHeard_ms = 6000;  // at construction
constexpr uint32_t kWentSilent_ms = 6500;     // at the decision
// A Zuzave controller's arbitration ID: device type 2, manufacturer 2, its device number.
constexpr uint32_t kZuzaveIdBase = 0x02020000;
constexpr int kFirstDeviceNumber = 1;

}  // namespace

JagPendingSetid::JagPendingSetid(uint32_t requestedId, uint32_t awaitedFrameId,
                                 const uint32_t* ages)
    : requestedId_(requestedId), awaitedFrameId_(awaitedFrameId), timer_ms_(kDecisionDelay_ms) {
  for (int number = kFirstDeviceNumber; number < kDeviceNumbers; ++number) {
    if (ages[number] < kRecentlyHeard_ms) seenMask_ |= uint64_t{1} << number;
  }
}

bool JagPendingSetid::EventCan(uint32_t frameId) {
  if (frameId != awaitedFrameId_) return false;
  if (state_ == kWaitingForRequest) state_ = kRequestSeen;
  return true;
}

void JagPendingSetid::EventLoop20Ms(const uint32_t* ages) {
  if (timer_ms_ > kStep_ms) {
    timer_ms_ -= kStep_ms;
    return;
  }
  timer_ms_ = 0;
  if (state_ == kWaitingForRequest) {
    state_ = kRequestNotSeen;
  } else if (state_ == kRequestSeen) {
    Decide(ages);
  }
}

void JagPendingSetid::Decide(const uint32_t* ages) {
  int silent = 0;
  int first = 0;
  for (int number = kFirstDeviceNumber; number < kDeviceNumbers; ++number) {
    if (!(seenMask_ & (uint64_t{1} << number)) || ages[number] <= kWentSilent_ms) continue;
    if (silent++ == 0) first = number;
  }
  if (silent == 1) {
    fixupId_ = static_cast<int32_t>(kZuzaveIdBase | static_cast<uint32_t>(first));
    state_ = kIdentified;
  } else {
    state_ = kAmbiguous;
  }
}

int32_t JagPendingSetid::GetState() const { return IsFinished() ? state_ : 0; }

bool JagPendingSetid::IsFinished() const {
  return state_ == kAmbiguous || state_ == kIdentified || state_ == kRequestNotSeen;
}
