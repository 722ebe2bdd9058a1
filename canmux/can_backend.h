#pragma once
// The narrow interface between the session multiplexer and whatever carries frames: the empty
// bus, a SocketCAN interface, or the in-process virtual bus of the simulator and tests.
#include <cstdint>

#include "canmux/can_stream_message.h"

class CanBackend {
 public:
  virtual ~CanBackend() = default;

  // Transmit hook: put one frame on the bus. Returns 0, or a negative status.
  virtual int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) = 0;

  // Receive hook: move up to `capacity` waiting frames into `buffer` (oldest first) and store
  // how many in `count`. Must not block for more than a millisecond or two.
  virtual int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) = 0;

  // Interface name used in bus traces: "can0", "vcan0", "sim", "none".
  virtual const char* interfaceName() const = 0;

  // True when received frames are stamped with the wall clock (microseconds since the epoch,
  // wrapped to 32 bits), as SocketCAN's kernel receive stamps are; the bus trace then writes
  // that time instead of the moment it saw the frame.
  virtual bool stampsAreWallClock() const { return false; }
};
