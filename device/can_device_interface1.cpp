// The process-wide engine and its locking front, created when the library loads (engine first,
// so it outlives the front's worker), and the free functions the server core calls.
#include "device/can_device_interface1.h"

#include "canmux/can_mux.h"
#include "device/impl_device_interface.h"
#include "device/quor_device_interface.h"

namespace {

// The worker talks to the CAN session layer until the front is destroyed at unload, so the
// layer is created first: static objects are destroyed in reverse order of creation.
const bool sessionLayerCreated = (CanMux_Backend(), true);
QuorDeviceInterface theEngine;
// The worker waits for the server's first restart(): its first step sends the dynamic-ID
// reset-all, which must reach the bus a host program chooses after the library has loaded.
ImplDeviceInterface theInterface(theEngine, ImplDeviceInterface::kStartOnRestart);

}  // namespace

namespace CANDeviceInterface1 {

int getNumberOfDevices(const quor::tessera::runtime::Event& cancel) {
  return theInterface.getNumberOfDevices(cancel);
}
int getListOfDevices(DeviceDescriptor* list, int capacity) {
  return theInterface.getListOfDevices(list, capacity);
}
int getListOfDevices(DeviceDescriptor* list, int capacity,
                     const quor::tessera::runtime::Event& cancel) {
  return theInterface.getListOfDevices(list, capacity, cancel);
}
int assignDeviceID(DeviceDescriptor* device, unsigned newDeviceNumber) {
  return theInterface.assignDeviceID(device, newDeviceNumber);
}
int saveDeviceName(DeviceDescriptor* device, const char* newName) {
  return theInterface.saveDeviceName(device, newName);
}
int saveLightLed(const DeviceDescriptor* device, bool on) {
  return theInterface.saveLightLed(device, on);
}
int factoryDefault(const DeviceDescriptor* device) { return theInterface.factoryDefault(device); }
int enterCalibration(const DeviceDescriptor* device, int calibrationType) {
  return theInterface.enterCalibration(device, calibrationType);
}
int selfTest(const DeviceDescriptor* device, char* text, int capacity) {
  return theInterface.selfTest(device, text, capacity);
}
int updateFirmware(const DeviceDescriptor* device, const unsigned char* fileBytes, unsigned size,
                   char* message, int capacity) {
  return theInterface.updateFirmware(device, fileBytes, size, message, capacity);
}
void checkUpdateProgress(int* percent, bool* stillUpdating) {
  theInterface.checkUpdateProgress(percent, stillUpdating);
}
int getConfigParameters(const DeviceDescriptor* device, ConfigByteArray& out) {
  return theInterface.getConfigParameters(device, out);
}
int saveConfigParameters(const DeviceDescriptor* device, const ConfigByteArray& toWrite,
                         ConfigByteArray& readBack) {
  return theInterface.saveConfigParameters(device, toWrite, readBack);
}
int dispose() { return theInterface.dispose(); }
int restart() { return theInterface.restart(); }

}  // namespace CANDeviceInterface1
