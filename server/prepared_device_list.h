#pragma once
// The "getdevices" answer prepared once per device-cache change instead of once per request:
// everything up to its "GeneralReturn" member, which is the only part that depends on the
// request and which sorts after "BusUtilPerc" and "DeviceArray", so the answer is this text,
// the request's own general result, and the closing brace.
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "device/device_descriptor.h"

namespace quor::tessera::diagnostics {

class PreparedDeviceList {
 public:
  // The listing of `count` descriptors with the bus utilisation figure.
  PreparedDeviceList(const CANDeviceInterface1::DeviceDescriptor* list, int32_t count,
                     double busUtilisation);

  // A request's general result as the member text `WriteAnswer` puts in.
  static std::string GeneralReturnText(const nlohmann::json& generalReturn);
  // Appends the whole answer to `out`, byte for byte what dumping the full document would give.
  void WriteAnswer(const std::string& generalReturnText, std::string& out) const;

  // One listed device as an element of "DeviceArray".
  static nlohmann::json DescribeDevice(const CANDeviceInterface1::DeviceDescriptor& d);

 private:
  std::string head_;  // the document up to and including "\"GeneralReturn\": "
};

}  // namespace quor::tessera::diagnostics
