// Placeholder until the device engine lands: an engine that knows no devices.
#include "device/can_device_interface1.h"

#include "device/error_codes.h"

namespace CANDeviceInterface1 {

int getNumberOfDevices(const quor::tessera::runtime::Event&) { return 0; }
int getListOfDevices(DeviceDescriptor*, int) { return 0; }
int assignDeviceID(DeviceDescriptor*, unsigned) { return QUOR_DI_NotImplemented; }
int saveDeviceName(DeviceDescriptor*, const char*) { return QUOR_DI_NotImplemented; }
int saveLightLed(const DeviceDescriptor*, bool) { return QUOR_DI_NotImplemented; }
int factoryDefault(const DeviceDescriptor*) { return QUOR_DI_NotImplemented; }
int enterCalibration(const DeviceDescriptor*, int) { return QUOR_DI_NotImplemented; }
int selfTest(const DeviceDescriptor*, char* text, int capacity) {
  if (text != nullptr && capacity > 0) text[0] = '\0';
  return QUOR_DI_NotImplemented;
}
int updateFirmware(const DeviceDescriptor*, const unsigned char*, unsigned, char* message,
                   int capacity) {
  if (message != nullptr && capacity > 0) message[0] = '\0';
  return QUOR_DI_NotImplemented;
}
void checkUpdateProgress(int* percent, bool* stillUpdating) {
  if (percent) *percent = 0;
  if (stillUpdating) *stillUpdating = false;
}
int getConfigParameters(const DeviceDescriptor*, ConfigByteArray&) { return QUOR_DI_NotImplemented; }
int saveConfigParameters(const DeviceDescriptor*, const ConfigByteArray&, ConfigByteArray&) {
  return QUOR_DI_NotImplemented;
}
int dispose() { return 0; }
int restart() { return 0; }

}  // namespace CANDeviceInterface1
