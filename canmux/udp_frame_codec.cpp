#include "canmux/udp_frame_codec.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

constexpr uint32_t kMaxExtendedId = 0x1FFFFFFF;
constexpr size_t kMaxClassicBytes = 8;

bool IsFalse(const json& message, const char* key) {
  const auto it = message.find(key);
  return it == message.end() || (it->is_boolean() && !it->get<bool>());
}

}  // namespace

std::vector<uint8_t> EncodeUdpFrame(const CanStreamMessage& frame, double wallClock_s) {
  const size_t size = frame.dataSize > kMaxClassicBytes ? kMaxClassicBytes : frame.dataSize;
  json message = {
      {"timestamp", wallClock_s},
      {"arbitration_id", frame.messageID & kMaxExtendedId},
      {"is_extended_id", true},
      {"is_remote_frame", false},
      {"is_error_frame", false},
      {"channel", nullptr},
      {"dlc", size},
      {"data", json::binary(std::vector<uint8_t>(frame.data, frame.data + size))},
      {"is_fd", false},
      {"bitrate_switch", false},
      {"error_state_indicator", false},
  };
  return json::to_msgpack(message);
}

bool DecodeUdpFrame(const uint8_t* bytes, size_t size, CanStreamMessage* frame) {
  if (size == 0 || size > kMaxUdpFrameBytes) return false;
  const json message = json::from_msgpack(bytes, bytes + size, true, false);
  if (message.is_discarded() || !message.is_object()) return false;
  const auto id = message.find("arbitration_id");
  const auto extended = message.find("is_extended_id");
  const auto data = message.find("data");
  if (id == message.end() || !id->is_number_unsigned() || id->get<uint64_t>() > kMaxExtendedId)
    return false;
  if (extended == message.end() || !extended->is_boolean() || !extended->get<bool>()) return false;
  if (!IsFalse(message, "is_remote_frame") || !IsFalse(message, "is_error_frame") ||
      !IsFalse(message, "is_fd"))
    return false;
  // python-can sends its bytearray as binary; a list of byte values is taken as well.
  std::vector<uint8_t> payload;
  if (data == message.end()) return false;
  if (data->is_binary()) {
    payload = data->get_binary();
  } else if (data->is_array()) {
    for (const json& value : *data) {
      if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFF) return false;
      payload.push_back(static_cast<uint8_t>(value.get<uint64_t>()));
    }
  } else {
    return false;
  }
  if (payload.size() > kMaxClassicBytes) return false;
  const auto dlc = message.find("dlc");
  if (dlc != message.end() &&
      (!dlc->is_number_unsigned() || dlc->get<uint64_t>() != payload.size()))
    return false;
  *frame = CanStreamMessage{};
  frame->messageID = static_cast<uint32_t>(id->get<uint64_t>());
  frame->dataSize = static_cast<uint8_t>(payload.size());
  if (!payload.empty()) std::memcpy(frame->data, payload.data(), payload.size());
  return true;
}
