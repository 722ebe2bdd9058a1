#include "canmux/socketcan_conversion.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint8_t kMaxDataBytes = 8;
}

struct can_filter SocketCanFilterFor(uint32_t id, uint32_t mask) {
  struct can_filter filter {};
  filter.can_id = CAN_EFF_FLAG | (id & CAN_EFF_MASK);
  filter.can_mask = CAN_EFF_FLAG | CAN_RTR_FLAG | (mask & CAN_EFF_MASK);
  return filter;
}

bool CanFrameToStreamMessage(const struct can_frame& frame, uint32_t timeStamp_us,
                             CanStreamMessage* out) {
  if (!(frame.can_id & CAN_EFF_FLAG) || (frame.can_id & (CAN_RTR_FLAG | CAN_ERR_FLAG))) {
    return false;
  }
  std::memset(out, 0, sizeof *out);
  out->messageID = frame.can_id & CAN_EFF_MASK;
  out->timeStamp = timeStamp_us;
  out->dataSize = std::min<uint8_t>(frame.can_dlc, kMaxDataBytes);
  std::memcpy(out->data, frame.data, out->dataSize);
  return true;
}

struct can_frame StreamMessageToCanFrame(uint32_t id, const uint8_t* data, uint8_t size) {
  struct can_frame frame {};
  frame.can_id = CAN_EFF_FLAG | (id & CAN_EFF_MASK);
  frame.can_dlc = data != nullptr ? std::min(size, kMaxDataBytes) : 0;
  if (frame.can_dlc > 0) std::memcpy(frame.data, data, frame.can_dlc);
  return frame;
}
