// The name a device is listed under.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/quor_device_interface.h"
#include "engine_test_support.h"

namespace {

using engine_test::DeviceId;

class DeviceName : public ::testing::Test {
 protected:
  _Device& Device(uint32_t id, uint8_t deviceType, uint32_t modelCode,
                  const char* reportedModel = "") {
    _Device& device = *engine_.InsertFoundDevice(id, 0);
    device.deviceType = deviceType;
    device.modelCode = modelCode;
    std::strcpy(device.reportedModel, reportedModel);
    return device;
  }
  std::string NameOf(_Device& device) {
    EXPECT_EQ(engine_.UpdateDevName(device), 0);
    return device.descriptor.name;
  }

  QuorDeviceInterface engine_;
};

TEST_F(DeviceName, ModelBaseFollowedByTheDeviceNumber) {
  EXPECT_EQ(NameOf(Device(DeviceId(8, 0), 8, 5)), "PDP (Device ID 0)");
  EXPECT_EQ(NameOf(Device(DeviceId(1, 3), 1, 16)), "Harrier HX (Device ID 3)");
  EXPECT_EQ(NameOf(Device(DeviceId(21, 62), 21, 13)), "Wren (Device ID 62)");
}

TEST_F(DeviceName, UnknownCodesUseTheReportedModelOrNode) {
  EXPECT_EQ(NameOf(Device(DeviceId(2, 2), 2, 40, "Kestrel KF")), "Kestrel KF (Device ID 2)");
  EXPECT_EQ(NameOf(Device(DeviceId(7, 2), 7, 40)), "Node (Device ID 2)");
}

TEST_F(DeviceName, ImuOnAMotorControllerRibbonCable) {
  _Device& imu = Device(DeviceId(2, 3), 2, 13);
  EXPECT_EQ(NameOf(imu), "Wren connected to Kestrel KX (Device ID 3)");
  EXPECT_STREQ(imu.typePrefix, "Kestrel KX ");
}

TEST_F(DeviceName, CustomNameNeedsSupportAndAnAnswer) {
  _Device& device = Device(DeviceId(2, 1), 2, 9);
  std::strcpy(device.customName, "Arm");
  device.descriptor.respFlags = resp_flag::kCustomNameSupported;
  EXPECT_EQ(NameOf(device), "Kestrel KX (Device ID 1)");
  EXPECT_FALSE(device.descriptor.respFlags & resp_flag::kCustomNameInUse);
  device.descriptor.respFlags = resp_flag::kName;
  EXPECT_EQ(NameOf(device), "Kestrel KX (Device ID 1)");
  device.descriptor.respFlags = resp_flag::kCustomNameSupported | resp_flag::kName;
  EXPECT_EQ(NameOf(device), "Arm");
  EXPECT_TRUE(device.descriptor.respFlags & resp_flag::kCustomNameInUse);
  device.customName[0] = '\0';
  EXPECT_EQ(NameOf(device), "Kestrel KX (Device ID 1)");
  EXPECT_FALSE(device.descriptor.respFlags & resp_flag::kCustomNameInUse);
}

TEST_F(DeviceName, LongNamesAreCutTo63Characters) {
  _Device& device = Device(DeviceId(2, 1), 2, 9);
  std::memset(device.customName, 'c', 129);
  device.descriptor.respFlags = resp_flag::kCustomNameSupported | resp_flag::kName;
  EXPECT_EQ(NameOf(device), std::string(63, 'c'));
  const std::string longModel(31, 'm');
  _Device& other = Device(DeviceId(6, 12), 6, 99, longModel.c_str());
  EXPECT_EQ(NameOf(other), (longModel + " (Device ID 12)").substr(0, 63));
}

}  // namespace
