#pragma once
// The motor controller's 8-byte control frame as a "control" request describes it, and the
// enable frame that lets devices run when no robot controller enables them.
#include <array>
#include <cstdint>

#include "server/request_parameters.h"

namespace quor::tessera::diagnostics {

using ControlFrameBytes = std::array<uint8_t, 8>;

// Every field is the low bits of its request key's integer value (absent or unreadable: 0),
// so no value can spill into a neighbouring field. The check bit (d6 bit 4) is left 0.
ControlFrameBytes PackControlFrame(const utility::ParameterMap& params);

// The frame with its check bit set from the other 63 bits, as the devices verify it.
ControlFrameBytes WithCheckBit(ControlFrameBytes frame);

// Broadcast to every device (type 0, API 0x0180, number 63): data 01 00, "enabled".
constexpr uint32_t kEnableFrameId = 0x000401BF;
constexpr std::array<uint8_t, 2> kEnableFrameData = {0x01, 0x00};

}  // namespace quor::tessera::diagnostics
