#pragma once
// The empty bus: every frame sent is accepted and vanishes, nothing is ever received, so the
// receive thread sleeps until it is woken.
#include "canmux/can_backend.h"

class NoneBackend : public CanBackend {
 public:
  int32_t transmit(uint32_t, const uint8_t*, uint8_t) override { return 0; }
  int32_t receive(CanStreamMessage*, uint32_t, uint32_t* count) override {
    if (count != nullptr) *count = 0;
    return 0;
  }
  void waitForFrames(int timeout_ms) override { wakeUp_.wait(timeout_ms); }
  const char* interfaceName() const override { return "none"; }
};
