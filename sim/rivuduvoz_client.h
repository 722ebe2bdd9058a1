#pragma once
// An IMU on a motor controller's ribbon cable (a Rivuduvoz client): it has no bus identity of
// its own and answers through the controller's alternate channel, API class 0x3D on the
// controller's number and 0x3C on the controller's dynamic number. The controller tells the
// server in its status answer that it bridges a client.
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/device_attributes.h"
#include "sim/sim_wire.h"

namespace quor::tessera::sim {

namespace wire {
constexpr uint32_t kClassAlternate = 0x3D;
constexpr uint32_t kClassAlternateDynamic = 0x3C;
constexpr uint32_t kAlternateRequestIndex = 0;
constexpr uint32_t kAlternateAnswerIndex = 1;
// Status answer byte 2: both bits say "a client is on my ribbon cable".
constexpr uint8_t kStatusFeatureRibbonBridge = 0x08 | 0x10;
}  // namespace wire

class SimDevice;

// The motor controllers have a ribbon cable.
bool CarriesRibbonClients(DeviceFamily family);

// The ID the server files the client under: the controller's alternate channel.
uint32_t RibbonClientBaseId(const SimDevice& host);
// The ID the client answers a request on `requestId` with, or 0 when the request is not for it.
uint32_t RibbonAnswerIdFor(uint32_t requestId, const SimDevice& host);
// Puts every ribbon IMU among `devices` on the cable of the first motor controller with its
// device number that has no client yet. An IMU without one stays silent.
void AttachRibbonClients(const std::vector<std::unique_ptr<SimDevice>>& devices);

}  // namespace quor::tessera::sim
