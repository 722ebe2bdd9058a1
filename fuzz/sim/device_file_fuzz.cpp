// Feeds arbitrary text to the device-file reader (`--can sim:FILE`). A file it takes becomes
// simulated devices, which are powered up and run for a third of a simulated second, so every
// value the file gave (versions, names, configuration images, status-frame states) goes out in
// frames.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/device_file.h"
#include "sim/frame_sink.h"
#include "sim/sim_device.h"

namespace {

class CountingSink : public quor::tessera::sim::FrameSink {
 public:
  void sendFrame(const CanStreamMessage& frame) override {
    if (frame.dataSize > 8 || frame.messageID > 0x1FFFFFFF) __builtin_trap();
    ++frames;
  }
  uint64_t frames = 0;
};

constexpr uint64_t kRunFor_us = 320000;  // the slowest frames (160 ms) go out twice
constexpr uint64_t kStep_us = 10000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quor::tessera::sim;
  if (size > kMaxDeviceFileBytes) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<DeviceAttributes> attributes;
  std::string error;
  if (!ParseDeviceFile(text, &attributes, &error)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  if (attributes.size() > kMaxSimulatedDevices) __builtin_trap();
  CountingSink sink;
  std::vector<std::unique_ptr<SimDevice>> devices;
  uint32_t token = 1;
  for (const DeviceAttributes& a : attributes)
    devices.push_back(std::make_unique<SimDevice>(sink, a, token++));
  for (auto& device : devices) device->plugIn(0);
  for (uint64_t now = 0; now <= kRunFor_us; now += kStep_us) {
    for (auto& device : devices) device->poll(now);
  }
  return 0;
}
