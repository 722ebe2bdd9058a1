#pragma once
// Building CAN frames in tests, and reading their data back.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "canmux/can_stream_message.h"

namespace tessera_test {

// A frame with up to 8 data bytes (more are cut).
inline CanStreamMessage Frame(uint32_t id, const std::vector<uint8_t>& bytes) {
  CanStreamMessage frame{};
  frame.messageID = id;
  frame.dataSize = static_cast<uint8_t>(std::min<size_t>(bytes.size(), 8));
  std::copy_n(bytes.begin(), frame.dataSize, frame.data);
  return frame;
}

inline std::vector<uint8_t> Bytes(const CanStreamMessage& frame) {
  return std::vector<uint8_t>(frame.data, frame.data + frame.dataSize);
}

}  // namespace tessera_test
