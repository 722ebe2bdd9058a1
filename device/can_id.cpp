#include "device/can_id.h"

namespace {

// API class / index pairs on which devices answer ISO-15765 requests.
struct AnswerChannel {
  uint32_t apiClass;
  uint32_t apiIndex;
  uint32_t dynamic;
  uint32_t alternate;
};

constexpr AnswerChannel kAnswerChannels[] = {
    {0x3F, 1, 0, 0},  // device ID
    {0x3D, 1, 0, 1},  // device ID, alternate channel
    {0x3E, 5, 1, 0},  // dynamic ID
    {0x3C, 1, 1, 1},  // dynamic ID, alternate channel
};

}  // namespace

bool QUOR_CANID_Decode(uint32_t id, _DecodedHeader& out) {
  out.arbId = id;
  out.dynamic = 0;
  out.alternate = 0;
  if (can_id::Manufacturer(id) != can_id::kManufacturerQuor) return false;
  for (const AnswerChannel& channel : kAnswerChannels) {
    if (can_id::ApiClass(id) == channel.apiClass && can_id::ApiIndex(id) == channel.apiIndex) {
      out.dynamic = channel.dynamic;
      out.alternate = channel.alternate;
      return true;
    }
  }
  return false;
}
