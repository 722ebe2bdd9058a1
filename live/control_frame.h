#pragma once
// The motor controller's 8-byte control frame as a "control" request describes it, and the
// enable frame that lets devices run when no robot controller enables them.
#include <array>
#include <cstdint>
#include <optional>

#include "server/request_parameters.h"

namespace quor::tessera::diagnostics {

using ControlFrameBytes = std::array<uint8_t, 8>;

// Every field takes its request key's integer value (absent or unreadable: 0): the demands as
// signed numbers of their width (demand 0 24 bits, demand 1 18), the other fields as unsigned
// ones. Nothing when any value lies outside what its field holds. The check bit (d6 bit 4) is
// left 0.
std::optional<ControlFrameBytes> PackControlFrame(const utility::ParameterMap& params);

// The frame with its check bit set from the other 63 bits, as the devices verify it.
ControlFrameBytes WithCheckBit(ControlFrameBytes frame);

// Broadcast to every device (type 0, API 0x0180, number 63): data 01 00, "enabled".
constexpr uint32_t kEnableFrameId = 0x000401BF;
constexpr std::array<uint8_t, 2> kEnableFrameData = {0x01, 0x00};

}  // namespace quor::tessera::diagnostics
