// The whole server in this process, over HTTP, while the simulated bus changes under it:
// devices unplugged and plugged in, one in its bootloader, a custom name, two devices sharing a
// device ID.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "sim/builtin_robot.h"
#include "sim/device_file.h"
#include "tests/e2e/expected_listing.h"
#include "tests/e2e/server_on_simulated_bus.h"

namespace {

using nlohmann::json;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::DeviceFamily;
using quor::tessera::sim::DeviceMode;
using tessera_test::ExpectedListing;
using tessera_test::FindEntry;

using tessera_test::ServerOnSimulatedBus;

TEST_F(ServerOnSimulatedBus, UnpluggedDeviceDropsOutOfTheList) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  const size_t kestrel = IndexOf(DeviceFamily::kKestrelKx);
  ASSERT_TRUE(robot().unplug(kestrel));
  const json listing = WaitForListing([](const json& l) { return l.size() == 7; });
  ASSERT_EQ(listing.size(), 7u) << listing.dump(2);
  EXPECT_TRUE(FindEntry(listing, "Kestrel KX", 1).is_null());
}

TEST_F(ServerOnSimulatedBus, DevicePluggedInLaterAppears) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  DeviceAttributes extra = quor::tessera::sim::DefaultDevice(DeviceFamily::kCandial, 9);
  extra.manufactured = {2023, 4, 1};
  robot().addDevice(extra);
  const json listing = WaitForListing([](const json& l) { return l.size() == 9; });
  ASSERT_EQ(listing.size(), 9u) << listing.dump(2);
  const json entry = FindEntry(listing, "CANdial", 9);
  ASSERT_FALSE(entry.is_null());
  const json expected = ExpectedListing(extra);
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(entry[key], value) << key;
}

TEST_F(ServerOnSimulatedBus, UnpluggedDeviceComesBack) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  const size_t wren = IndexOf(DeviceFamily::kWren);
  ASSERT_TRUE(robot().unplug(wren));
  ASSERT_EQ(WaitForListing([](const json& l) { return l.size() == 7; }).size(), 7u);
  ASSERT_TRUE(robot().plugIn(wren));
  const json listing = WaitForAllEight();
  ASSERT_EQ(listing.size(), 8u) << listing.dump(2);
  const json entry = FindEntry(listing, "Wren", 4);
  ASSERT_FALSE(entry.is_null());
  EXPECT_EQ(entry, ExpectedListing(AttributesOf(wren)));
}

TEST_F(ServerOnSimulatedBus, DeviceInItsBootloaderShowsTheBootloaderStatus) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  const size_t kestrel = IndexOf(DeviceFamily::kKestrelKf);
  ASSERT_TRUE(robot().setMode(kestrel, DeviceMode::kBootloader));
  // The application is still flashed, so the application check adds its hint (cut to 63).
  const std::string expected =
      std::string("Bootloader, LED is blinking green/orange.Bootloader, but App is flashed. Power "
                  "cycle to boot.")
          .substr(0, 63);
  const json listing = WaitForListing([&](const json& l) {
    const json entry = FindEntry(l, "Kestrel KF", 2);
    return !entry.is_null() && entry["SoftStatus"] == expected;
  });
  const json entry = FindEntry(listing, "Kestrel KF", 2);
  ASSERT_FALSE(entry.is_null()) << listing.dump(2);
  EXPECT_EQ(entry["SoftStatus"], expected);
}

TEST_F(ServerOnSimulatedBus, CustomNameIsListedAsTheName) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  const size_t harrier = IndexOf(DeviceFamily::kHarrierHx);
  ASSERT_TRUE(robot().setCustomName(harrier, "Left drive"));
  const json listing = WaitForListing([](const json& l) {
    const json entry = FindEntry(l, "Harrier HX", 3);
    return !entry.is_null() && entry["Name"] == "Left drive";
  });
  const json entry = FindEntry(listing, "Harrier HX", 3);
  ASSERT_FALSE(entry.is_null()) << listing.dump(2);
  EXPECT_EQ(entry["Name"], "Left drive");
}

TEST_F(ServerOnSimulatedBus, TwoDevicesOnOneDeviceIdAreReported) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  robot().addDevice(quor::tessera::sim::DefaultDevice(DeviceFamily::kKestrelKx, 1));
  const std::string expected = "There are 2 devices with this Device ID. Running Application.";
  const json listing = WaitForListing([&](const json& l) {
    const json entry = FindEntry(l, "Kestrel KX", 1);
    return !entry.is_null() && entry["SoftStatus"] == expected;
  });
  const json entry = FindEntry(listing, "Kestrel KX", 1);
  ASSERT_FALSE(entry.is_null()) << listing.dump(2);
  EXPECT_EQ(entry["SoftStatus"], expected);
  EXPECT_EQ(listing.size(), 8u) << "both answer under one device ID";
}

// Stopping the server disposes of the device interface; starting it again must bring the
// dynamic-ID server back, or devices plugged in later would never be polled.
TEST_F(ServerOnSimulatedBus, RestartedServerFindsDevicesPluggedInWhileStopped) {
  ASSERT_EQ(WaitForAllEight().size(), 8u);
  server_->SetSecondsToStart(-1);
  ASSERT_FALSE(server_->IsRunning());
  const DeviceAttributes extra = quor::tessera::sim::DefaultDevice(DeviceFamily::kPcm, 7);
  robot().addDevice(extra);
  server_->SetSecondsToStart(0);
  ASSERT_TRUE(WaitForPort());
  const json listing = WaitForListing([](const json& l) { return l.size() == 9; });
  ASSERT_EQ(listing.size(), 9u) << listing.dump(2);
  EXPECT_FALSE(FindEntry(listing, "PCM", 7).is_null());
}

}  // namespace
