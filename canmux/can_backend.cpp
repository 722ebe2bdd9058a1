#include "canmux/can_backend.h"

#include <algorithm>

#include "canmux/time_stamp.h"

void CanBackend::waitForFrames(int timeout_ms) {
  wakeUp_.wait(timeout_ms < 0 ? kDefaultPoll_ms : std::min(timeout_ms, kDefaultPoll_ms));
}

int64_t CanBackend::receivedAtWallClock_us(const CanStreamMessage&) const {
  return WallClockMicros();
}

void CanBackend::setTakeFramesHook(TakeFramesHook hook) {
  std::lock_guard<std::mutex> hold(takeFramesLock_);
  takeFrames_ = std::move(hook);
}

void CanBackend::framesArrived() {
  {
    std::lock_guard<std::mutex> hold(takeFramesLock_);
    if (takeFrames_ && takeFrames_(*this)) return;
  }
  wakeUp_.raise();
}
