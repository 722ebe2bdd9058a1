#pragma once
// Test helpers: a frame sink that records what a device sends, and frame builders.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "sim/frame_sink.h"

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

inline CanStreamMessage Frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
  CanStreamMessage frame{};
  frame.messageID = id;
  size_t i = 0;
  for (uint8_t b : bytes) frame.data[i++] = b;
  frame.dataSize = static_cast<uint8_t>(bytes.size());
  return frame;
}

inline std::vector<uint8_t> Bytes(const CanStreamMessage& frame) {
  return std::vector<uint8_t>(frame.data, frame.data + frame.dataSize);
}

}  // namespace quor::tessera::sim::testing
