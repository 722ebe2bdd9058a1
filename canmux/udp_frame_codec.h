#pragma once
// The datagram of python-can's UDP-multicast bus: one CAN message as a MessagePack map of its
// fields ("timestamp", "arbitration_id", "is_extended_id", "is_remote_frame", "is_error_frame",
// "channel", "dlc", "data", "is_fd", "bitrate_switch", "error_state_indicator"), the data as
// MessagePack binary. Only classic extended data frames are carried, as on SocketCAN.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "canmux/can_stream_message.h"

// A datagram larger than this is no CAN message (python-can reads at most 4096 bytes).
constexpr size_t kMaxUdpFrameBytes = 4096;

// The datagram for `frame`, stamped `wallClock_s` (seconds since the epoch).
std::vector<uint8_t> EncodeUdpFrame(const CanStreamMessage& frame, double wallClock_s);

// The frame a datagram carries; false for anything else: malformed MessagePack, a map without
// the fields above or with fields of the wrong type, standard IDs, remote, error and CAN FD
// frames, more than 8 data bytes or a "dlc" that disagrees with the data.
bool DecodeUdpFrame(const uint8_t* bytes, size_t size, CanStreamMessage* frame);
