#pragma once
// One pending device-number change of a legacy Zuzave motor controller. Those controllers take
// a new number only after their button is pressed, and say nothing about it; this tracks the
// change from the outside. Its owner feeds it every received frame ID (EventCan) and the ages
// of the Zuzave device numbers every 20 ms (EventLoop20Ms); it sends nothing itself.
//
// Invariants:
//  - The decision falls 8 s after construction (400 steps), in exactly one step: state 10 or 11
//    becomes a final state 1, 2 or 3, and final states never change again.
//  - Only device numbers heard within 6 s before construction (bits 1..63 of the seen mask)
//    can be identified; bit 0 is never set.
//  - The fixup ID is -1 unless the state is 2.
#include <cstdint>

class JagPendingSetid {
 public:
  static constexpr int kDeviceNumbers = 64;  // ages are indexed by Zuzave device number

  enum State : int32_t {
    kAmbiguous = 1,         // none or several controllers went silent
    kIdentified = 2,        // one controller went silent: it took the new number
    kRequestNotSeen = 3,    // the request frame never came
    kWaitingForRequest = 10,
    kRequestSeen = 11,
  };

  // `ages`: milliseconds since a frame from each Zuzave device number was last seen.
  JagPendingSetid(uint32_t requestedId, uint32_t awaitedFrameId, const uint32_t* ages);

  // True when `frameId` is the awaited request frame (which moves a waiting state on).
  bool EventCan(uint32_t frameId);
  void EventLoop20Ms(const uint32_t* ages);

  // The final state (1, 2 or 3), or 0 while still running.
  int32_t GetState() const;
  bool IsFinished() const;
  int32_t GetFixupId() const { return fixupId_; }
  uint32_t GetRequestedId() const { return requestedId_; }

 private:
  void Decide(const uint32_t* ages);

  uint32_t requestedId_;  // kept for the owner; the procedure does not use it
  uint32_t awaitedFrameId_;
  int32_t fixupId_ = -1;
  int32_t timer_ms_;
  uint64_t seenMask_ = 0;
  int32_t state_ = kWaitingForRequest;
};
