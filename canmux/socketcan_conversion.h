#pragma once
// Conversion between the kernel's SocketCAN frame and the stream message. Only 29-bit data
// frames are carried: the devices on this bus speak nothing else.
#include <linux/can.h>

#include <cstdint>

#include "canmux/can_stream_message.h"

// Kernel filter that admits extended data frames whose ID matches `id` under `mask` (both
// 29-bit); standard, remote and error frames never pass.
struct can_filter SocketCanFilterFor(uint32_t id, uint32_t mask);

// False for frames the multiplexer does not carry (standard IDs, remote or error frames).
bool CanFrameToStreamMessage(const struct can_frame& frame, uint32_t timeStamp_us,
                             CanStreamMessage* out);

// An extended data frame; sizes above 8 are cut to 8, a null data pointer sends no bytes.
struct can_frame StreamMessageToCanFrame(uint32_t id, const uint8_t* data, uint8_t size);
