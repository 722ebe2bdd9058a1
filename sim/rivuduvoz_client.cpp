#include "sim/rivuduvoz_client.h"

#include "sim/family_traits.h"
#include "sim/sim_device.h"

namespace quor::tessera::sim {
namespace {

uint8_t DeviceTypeOf(const SimDevice& device) {
  return TraitsOf(device.attributes().family).deviceType;
}

}  // namespace

bool CarriesRibbonClients(DeviceFamily family) {
  return family == DeviceFamily::kKestrelKx || family == DeviceFamily::kKestrelKf ||
         family == DeviceFamily::kHarrierHx;
}

uint32_t RibbonClientBaseId(const SimDevice& host) {
  return wire::MakeArbId(DeviceTypeOf(host), wire::kClassAlternate, wire::kAlternateRequestIndex,
                         host.attributes().deviceNumber);
}

uint32_t RibbonAnswerIdFor(uint32_t requestId, const SimDevice& host) {
  const uint8_t type = DeviceTypeOf(host);
  if (requestId == RibbonClientBaseId(host)) {
    return wire::MakeArbId(type, wire::kClassAlternate, wire::kAlternateAnswerIndex,
                           host.attributes().deviceNumber);
  }
  const int dynamicNumber = host.dynamicNumber();
  if (dynamicNumber == DynamicIdClient::kNoDynamicNumber) return 0;
  const uint32_t number = static_cast<uint32_t>(dynamicNumber);
  if (requestId ==
      wire::MakeArbId(type, wire::kClassAlternateDynamic, wire::kAlternateRequestIndex, number)) {
    return wire::MakeArbId(type, wire::kClassAlternateDynamic, wire::kAlternateAnswerIndex,
                           number);
  }
  return 0;
}

void AttachRibbonClients(const std::vector<std::unique_ptr<SimDevice>>& devices) {
  for (const auto& client : devices) {
    if (!client->attributes().onRibbonCable || client->hasRibbonHost()) continue;
    for (const auto& host : devices) {
      if (!CarriesRibbonClients(host->attributes().family) || host->hasRibbonClient() ||
          host->attributes().deviceNumber != client->attributes().deviceNumber)
        continue;
      host->attachRibbonClient(*client);
      break;
    }
  }
}

}  // namespace quor::tessera::sim
