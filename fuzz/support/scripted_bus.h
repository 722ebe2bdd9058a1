#pragma once
// The CAN stream-session operations for fuzz targets, in place of the multiplexer: a target
// puts the frames of its input on the bus, and every open session whose filter admits a frame
// gets it on its next read, as the multiplexer would hand it over. Nothing runs on a thread of
// its own, so a run depends on its input alone. Frames sent go nowhere.
#include <cstdint>

#include "canmux/can_stream_message.h"

namespace fuzz_support {

// Offers `frame` to every open session (dropped where a session's queue is full).
void PutOnBus(const CanStreamMessage& frame);
// Closes every session: the next input starts on an empty bus.
void ResetBus();

}  // namespace fuzz_support
