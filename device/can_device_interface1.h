#pragma once
// The one door from the server core to the CAN devices. Every call except checkUpdateProgress
// and getConfigParameters holds the process-wide device-interface lock for its whole length,
// so device operations never overlap.
#include <cstdint>

#include "config/config_byte_array.h"
#include "device/device_descriptor.h"

namespace quor::tessera::runtime {
class Event;
}

namespace CANDeviceInterface1 {

int getNumberOfDevices(const quor::tessera::runtime::Event& cancel);
int getListOfDevices(DeviceDescriptor* list, int capacity);
// The same, or -800 when `cancel` is set while it waits for the device-interface lock.
int getListOfDevices(DeviceDescriptor* list, int capacity,
                     const quor::tessera::runtime::Event& cancel);
int assignDeviceID(DeviceDescriptor* device, unsigned newDeviceNumber);
int saveDeviceName(DeviceDescriptor* device, const char* newName);
int saveLightLed(const DeviceDescriptor* device, bool on);
int factoryDefault(const DeviceDescriptor* device);
int enterCalibration(const DeviceDescriptor* device, int calibrationType);
int selfTest(const DeviceDescriptor* device, char* text, int capacity);
int updateFirmware(const DeviceDescriptor* device, const unsigned char* fileBytes, unsigned size,
                   char* message, int capacity);
void checkUpdateProgress(int* percent, bool* stillUpdating);
int getConfigParameters(const DeviceDescriptor* device, ConfigByteArray& out);
int saveConfigParameters(const DeviceDescriptor* device, const ConfigByteArray& toWrite,
                         ConfigByteArray& readBack);
int dispose();
// Starts the worker the first time (the server calls it when it is created, and whenever it
// starts listening), and brings it back after dispose, so a restarted server works as well as
// a fresh one. Does nothing while the worker runs.
int restart();

}  // namespace CANDeviceInterface1
