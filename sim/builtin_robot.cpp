#include "sim/builtin_robot.h"

#include "sim/device_file.h"

namespace quor::tessera::sim {
namespace {

DeviceAttributes Made(DeviceFamily family, uint8_t deviceNumber, ManufactureDate date) {
  DeviceAttributes device = DefaultDevice(family, deviceNumber);
  device.manufactured = date;
  return device;
}

}  // namespace

std::vector<DeviceAttributes> BuiltInRobot() {
  return {
      Made(DeviceFamily::kPdp, 0, {2016, 11, 20}),
      Made(DeviceFamily::kPcm, 0, {2017, 3, 5}),
      Made(DeviceFamily::kKestrelKx, 1, {2019, 3, 5}),
      Made(DeviceFamily::kKestrelKf, 2, {2021, 10, 1}),
      Made(DeviceFamily::kHarrierHx, 3, {2020, 6, 14}),
      Made(DeviceFamily::kWren, 4, {2019, 12, 31}),
      Made(DeviceFamily::kCandial, 5, {2022, 2, 28}),
      Made(DeviceFamily::kCantap, 6, {2021, 7, 9}),
  };
}

}  // namespace quor::tessera::sim
