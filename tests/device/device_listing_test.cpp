// Which devices the listing hands to the server.
#include <gtest/gtest.h>

#include <cstring>

#include "device/quor_device_interface.h"
#include "engine_test_support.h"

namespace {

using engine_test::DeviceId;
using Descriptor = CANDeviceInterface1::DeviceDescriptor;

class DeviceListing : public ::testing::Test {
 protected:
  Descriptor& Add(uint32_t id, uint32_t respFlags, const char* currentVers = "20.1") {
    Descriptor& d = engine_.InsertFoundDevice(id, 0)->descriptor;
    d.respFlags = respFlags;
    std::strcpy(d.currentVers, currentVers);
    return d;
  }
  static constexpr uint32_t kListed = resp_flag::kInfo | resp_flag::kStatus;

  QuorDeviceInterface engine_;
  Descriptor list_[8] = {};
};

TEST_F(DeviceListing, NeedsInformationAndStatusAnswers) {
  Add(DeviceId(2, 1), kListed);
  Add(DeviceId(2, 2), resp_flag::kInfo);
  Add(DeviceId(2, 3), resp_flag::kStatus);
  ASSERT_EQ(engine_.getListOfDevices(list_, 8), 1);
  EXPECT_EQ(list_[0].arbId, DeviceId(2, 1));
}

TEST_F(DeviceListing, SilentDevicesAreLeftOut) {
  Add(DeviceId(2, 1), kListed, "20.1 (Device is not responding, this is stale)");
  Add(DeviceId(2, 2), kListed, "20.1 stopped responding");
  Add(DeviceId(2, 3), kListed);
  ASSERT_EQ(engine_.getListOfDevices(list_, 8), 1);
  EXPECT_EQ(list_[0].arbId, DeviceId(2, 3));
}

TEST_F(DeviceListing, KeyOrderAndWholeDescriptorsAreCopied) {
  Descriptor& late = Add(DeviceId(21, 4), kListed);
  std::strcpy(late.name, "Wren (Device ID 4)");
  Add(DeviceId(1, 3), kListed);
  Add(DeviceId(8, 0), kListed);
  ASSERT_EQ(engine_.getListOfDevices(list_, 8), 3);
  EXPECT_EQ(list_[0].arbId, DeviceId(1, 3));
  EXPECT_EQ(list_[1].arbId, DeviceId(8, 0));
  EXPECT_EQ(list_[2].arbId, DeviceId(21, 4));
  EXPECT_STREQ(list_[2].name, "Wren (Device ID 4)");
  EXPECT_EQ(list_[2].foundIndex, late.foundIndex);
}

TEST_F(DeviceListing, CapacityBoundsTheEntriesVisited) {
  Add(DeviceId(2, 1), kListed, "1.0 (Device is not responding, this is stale)");
  Add(DeviceId(2, 2), kListed, "1.0 (Device is not responding, this is stale)");
  Add(DeviceId(2, 3), kListed);
  EXPECT_EQ(engine_.getListOfDevices(list_, 2), 0);
  EXPECT_EQ(engine_.getListOfDevices(list_, 3), 1);
}

TEST_F(DeviceListing, NoRoomNoCopies) {
  Add(DeviceId(2, 1), kListed);
  EXPECT_EQ(engine_.getListOfDevices(list_, 0), 0);
  EXPECT_EQ(engine_.getListOfDevices(nullptr, 8), 0);
}

}  // namespace
