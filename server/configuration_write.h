#pragma once
// "setconfig" once its document has parsed: the document is written over the device's own
// image, the device's acknowledgement and read-back are awaited, and what came back is compared
// field by field with what was sent.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "device/device_descriptor.h"

namespace quor::tessera::diagnostics {

// `model` is the request's model text. Sets document["Device"] to what the device holds once a
// whole image came back; otherwise leaves it. Every failure that is not the document's own is
// logged with its reason.
int32_t WriteDeviceConfiguration(const std::string& model, const CANDeviceInterface1::DeviceDescriptor* device,
                                 const nlohmann::json& requested, nlohmann::json& document);

}  // namespace quor::tessera::diagnostics
