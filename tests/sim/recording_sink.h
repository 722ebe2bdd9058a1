#pragma once
// A frame sink that records what a simulated device sends.
#include <cstdint>
#include <vector>

#include "sim/frame_sink.h"
#include "tests/support/can_frames.h"

namespace quor::tessera::sim::testing {

class RecordingSink : public FrameSink {
 public:
  void sendFrame(const CanStreamMessage& frame) override { frames.push_back(frame); }
  std::vector<CanStreamMessage> take() {
    std::vector<CanStreamMessage> out;
    out.swap(frames);
    return out;
  }
  std::vector<CanStreamMessage> frames;
};

using tessera_test::Bytes;
using tessera_test::Frame;

}  // namespace quor::tessera::sim::testing
