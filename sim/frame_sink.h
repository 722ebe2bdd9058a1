#pragma once
// Where a simulated device puts the frames it sends: the virtual bus in the running robot, a
// recording list in unit tests.
#include "canmux/can_stream_message.h"

namespace quor::tessera::sim {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void sendFrame(const CanStreamMessage& frame) = 0;
};

}  // namespace quor::tessera::sim
