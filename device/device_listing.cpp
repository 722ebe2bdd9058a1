// The device list handed to the server core.
#include <cstring>

#include "device/quor_device_interface.h"

namespace {

// Devices whose version text says they stopped answering are left out of the list.
bool ShowsAsSilent(const char* currentVers) {
  return std::strstr(currentVers, "stopped responding") != nullptr ||
         std::strstr(currentVers, "stale") != nullptr;
}

}  // namespace

int QuorDeviceInterface::getListOfDevices(DeviceDescriptor* list, int capacity) {
  if (list == nullptr || capacity <= 0) return 0;
  int visited = 0;
  int copied = 0;
  const uint32_t listedFlags = resp_flag::kInfo | resp_flag::kStatus;
  for (const auto& [key, device] : devices_) {
    if (visited++ >= capacity) break;  // the capacity bounds the entries visited, not copied
    const DeviceDescriptor& descriptor = device->descriptor;
    char currentVers[CANDeviceInterface1::kDescriptorTextSize] = {};
    std::memcpy(currentVers, descriptor.currentVers, sizeof currentVers - 1);
    if (descriptor.arbId == 0 || !FlagReceived(&descriptor.respFlags, listedFlags) ||
        ShowsAsSilent(currentVers))
      continue;
    list[copied++] = descriptor;
  }
  return copied;
}
