// The simulated bootloader's own rules: what counts as a valid application, sectors assembled
// from parts, and the device-file keys that configure it.
#include "sim/bootloader.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/device_file.h"

namespace quor::tessera::sim {
namespace {

constexpr uint32_t kStart = 0x00008000;
constexpr uint32_t kEnd = 0x00080000;  // first address past the application region

// A bootloader accepts an image that was erased first, has something written, and every
// written sector wholly inside the application region.
TEST(FlashImage, ValidApplicationRules) {
  const FlashImage::Sector sector{};
  struct Case {
    const char* name;
    bool factoryImage;
    bool erase;
    std::vector<uint32_t> writes;
    bool valid;
  };
  const Case cases[] = {
      {"factory image", true, false, {}, true},
      {"no image", false, false, {}, false},
      {"erased, nothing written", true, true, {}, false},
      {"first address", false, true, {kStart}, true},
      {"one byte before the region", false, true, {kStart - 1}, false},
      {"last sector ends at the region's end", false, true, {kEnd - 1536}, true},
      {"last sector one byte past it", false, true, {kEnd - 1535}, false},
      {"one good, one outside", false, true, {kStart, kEnd}, false},
      {"written without an erase", true, false, {kStart}, false},
  };
  for (const Case& c : cases) {
    FlashImage flash(c.factoryImage);
    if (c.erase) flash.erase();
    for (uint32_t address : c.writes) flash.write(address, sector.data());
    EXPECT_EQ(flash.holdsValidApplication(), c.valid) << c.name;
  }
}

std::vector<uint8_t> Part(uint16_t offset, uint16_t count) {
  std::vector<uint8_t> request = {0xCC, static_cast<uint8_t>(offset >> 8),
                                  static_cast<uint8_t>(offset), static_cast<uint8_t>(count >> 8),
                                  static_cast<uint8_t>(count)};
  request.resize(5 + count, 0x5A);
  return request;
}

// Parts are acknowledged one by one; the commit writes only a sector that every byte reached.
TEST(Bootloader, SectorAssembledFromPartsIsCommittedWhole) {
  DeviceAttributes attributes = DefaultDevice(DeviceFamily::kWren, 1);
  Bootloader bootloader(attributes);
  const auto ask = [&](const std::vector<uint8_t>& request) {
    return bootloader.onRequest(request.data(), static_cast<uint16_t>(request.size()), false, 0x1, 0)
        .size;
  };
  ASSERT_EQ(ask({0xB7}), 0) << "the erase answers when it is done";
  ASSERT_TRUE(bootloader.poll(Bootloader::kErase_us).has_value());
  const std::vector<uint8_t> commit = {0xCD, 0x00, 0x00, 0x80, 0x00};
  for (uint16_t offset = 0; offset < 1430; offset += 110) EXPECT_EQ(ask(Part(offset, 110)), 1);
  EXPECT_EQ(ask(commit), 0) << "the last 106 bytes are missing";
  EXPECT_EQ(ask(Part(1430, 107)), 0) << "past the sector's end";
  EXPECT_EQ(ask(Part(1430, 106)), 1);
  EXPECT_EQ(ask(commit), 1);
  EXPECT_EQ(ask(commit), 1) << "a repeated commit is answered again";
  ASSERT_NE(bootloader.flash().sectorAt(kStart), nullptr);
  EXPECT_EQ((*bootloader.flash().sectorAt(kStart))[1535], 0x5A);
  EXPECT_EQ(bootloader.flash().sectorsWritten(), 1u);
  EXPECT_TRUE(bootloader.flash().holdsValidApplication());
}

TEST(DeviceFileUpgradeKeys, MinimumVersionRibbonAndFaults) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile(R"({"devices": [
      {"family": "kestrel kx", "id": 1, "min_app_version": "20.4",
       "faults": {"no_answer": ["0xB7", 185], "lost_sector_ack": 3,
                  "lost_sector_ack_always": true, "unplug_after_sectors": 5}},
      {"family": "wren", "id": 1, "ribbon": true, "min_app_version": "none"}]})",
                              &devices, &error))
      << error;
  EXPECT_TRUE(devices[0].minApplicationVersion == (TwoPartVersion{20, 4}));
  EXPECT_EQ(devices[0].faults.unansweredRequests, (std::vector<uint8_t>{0xB7, 0xB9}));
  EXPECT_EQ(devices[0].faults.lostSectorAck, 3);
  EXPECT_TRUE(devices[0].faults.lostSectorAckAlways);
  EXPECT_EQ(devices[0].faults.unplugAfterSectors, 5);
  EXPECT_TRUE(devices[1].onRibbonCable);
  EXPECT_FALSE(devices[1].minApplicationVersion.has_value());

  struct Case {
    const char* devices;
    const char* error;
  };
  const Case errors[] = {
      {R"({"family": "wren", "id": 2, "ribbon": true})",
       "devices[0].ribbon: needs a motor controller (kestrel kx, kestrel kf, harrier hx) with id 2 "
       "for each ribbon wren of that id"},
      {R"({"family": "pdp", "id": 2, "ribbon": true})",
       "devices[0].ribbon: only a wren can sit on a motor controller's ribbon cable"},
      {R"({"family": "pdp", "id": 2, "faults": {"no_answer": ["B7"]}})",
       "devices[0].faults.no_answer[0]: expected a request code such as \"0xB7\" or 183, got \"B7\""},
      {R"({"family": "pdp", "id": 2, "faults": {"unplug": 1}})", "devices[0].faults.unplug: unknown key"},
      {R"({"family": "pdp", "id": 2, "faults": {"unplug_after_sectors": 0}})",
       "devices[0].faults.unplug_after_sectors: expected 1 to 65535, got 0"},
      {R"({"family": "pdp", "id": 2, "min_app_version": "20"})",
       "devices[0].min_app_version: expected two numbers 0-255 separated by a dot, got \"20\""},
  };
  for (const Case& c : errors) {
    EXPECT_FALSE(ParseDeviceFile(std::string(R"({"devices": [)") + c.devices + "]}", &devices, &error));
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace quor::tessera::sim
