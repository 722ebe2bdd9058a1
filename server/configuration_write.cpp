#include "server/configuration_write.h"

#include <sstream>
#include <vector>

#include "config/config_group_serializer.h"
#include "device/can_device_interface1.h"
#include "device/can_id.h"
#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "runtime/diag_print.h"

namespace quor::tessera::diagnostics {

namespace {

namespace dev = CANDeviceInterface1;
using config2::ConfigGroupSerializer;

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Why the write failed, as the log line says it.
std::string Reason(int32_t code) {
  switch (code) {
    case QUOR_DI_NoConfigs:
      return "no whole configuration image of the device has arrived yet, so there is nothing "
             "to write the document over; nothing was written";
    case QUOR_DI_FeatureNotSupported:
      return "the device's firmware keeps no readable configuration; nothing was written";
    case QUOR_DI_EcuIsNotPresent:
      return "the device did not answer; nothing was written";
    case QUOR_DI_ConfigWriteNotAcknowledged:
      return "the device did not acknowledge the image within 200 ms of its last frame (no answer, or "
             "another answer than an acknowledgement)";
    case QUOR_DI_TimeoutIso15Response:
      return "the device acknowledged the image, but no whole image came back when asked twice: "
             "what it holds is unverified";
    default:
      return QuorDeviceInterface::ErrToString(code);
  }
}

int32_t Failed(const std::string& who, int32_t code, const std::string& reason) {
  std::stringstream message;
  message << "setconfig " << who << ": " << reason << " (" << code << ")";
  LogStream(message, true);
  return code;
}

}  // namespace

int32_t WriteDeviceConfiguration(const std::string& model, const dev::DeviceDescriptor* device,
                                 const nlohmann::json& requested, nlohmann::json& document) {
  const std::string who = model + " " + std::to_string(can_id::DeviceNumber(device->arbId));
  ConfigByteArray base;
  int32_t result = dev::getConfigParameters(device, base);
  if (result == QUOR_DI_NoConfigs && !(device->respFlags & resp_flag::kConfigReadable))
    result = QUOR_DI_FeatureNotSupported;
  if (result != QUOR_DI_OKAY) return Failed(who, result, Reason(result));

  ConfigByteArray toWrite;
  std::vector<std::string> refused;
  result = ConfigGroupSerializer::DeserializeOver(model, requested, base, toWrite, refused);
  if (result != QUOR_DI_OKAY) return result;  // the document's own fault: its answer says so
  if (!refused.empty()) {
    return Failed(who, QUOR_DI_ConfigReadWriteMismatch,
                  "values their fields cannot hold, nothing was written: " + Joined(refused));
  }

  ConfigByteArray readBack;
  result = dev::saveConfigParameters(device, toWrite, readBack);
  if (result != QUOR_DI_OKAY) return Failed(who, result, Reason(result));
  nlohmann::json readBackConfiguration;
  result = ConfigGroupSerializer::Serialize(model, readBack, readBackConfiguration);
  document["Device"] = readBackConfiguration;
  if (result != QUOR_DI_OKAY) return result;
  const std::vector<std::string> differences = ConfigGroupSerializer::Differences(model, toWrite, readBack);
  if (!differences.empty()) {
    return Failed(who, QUOR_DI_ConfigReadWriteMismatch,
                  "the device holds other values than were sent: " + Joined(differences));
  }
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
