#include "device/can_id.h"

#include "device/engine_wire.h"

namespace {

// API class / index pairs on which devices answer ISO-15765 requests.
struct AnswerChannel {
  uint32_t apiClass;
  uint32_t apiIndex;
  uint32_t dynamic;
  uint32_t alternate;
};

constexpr AnswerChannel kAnswerChannels[] = {
    {api_class::kDevice, api_index::kAnswer, 0, 0},
    {api_class::kAlternate, api_index::kAnswer, 0, 1},
    {api_class::kDynamic, api_index::kDynamicAnswer, 1, 0},
    {api_class::kAlternateDynamic, api_index::kAnswer, 1, 1},
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
