// Field upgrades against simulated devices over the virtual bus: the bootloader conversation
// as the bus shows it, the progress another thread reads meanwhile, and the effect on the
// device (the firmware it reports, the mode it runs).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "device/can_frame_layer.h"
#include "device/error_codes.h"
#include "sim/bfl_writer.h"
#include "sim/device_file.h"
#include "simulated_engine.h"
#include "tests/support/progress_recorder.h"

namespace {

using engine_test::SimulatedEngine;
using quor::tessera::sim::BflPlan;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::DeviceMode;
using quor::tessera::sim::MakeBflFile;
using quor::tessera::sim::PlanFor;
using tessera_test::ProgressRecorder;
using Descriptor = CANDeviceInterface1::DeviceDescriptor;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kKestrelKxCode = 9;
constexpr uint8_t kKestrelKfCode = 17;
constexpr uint8_t kWrenCode = 13;

std::vector<DeviceAttributes> Devices(const std::string& json) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  EXPECT_TRUE(quor::tessera::sim::ParseDeviceFile(json, &devices, &error)) << error;
  return devices;
}

uint32_t BigEndian32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

// Requests the server sent, read from the frames that start them.
struct SentRequests {
  std::vector<uint32_t> sectorAddresses;       // 0xB1 first frames (1541 bytes)
  std::vector<std::pair<int, int>> parts;      // 0xCC: offset, count
  std::vector<uint32_t> commits;               // 0xCD
  std::vector<uint32_t> partApiClasses;        // where the parts went
  std::vector<uint64_t> firstPartTimes_us;     // 0xCC at offset 0
};

// One-byte requests with `code` (single frames 01 code).
int CountRequests(const std::vector<CanStreamMessage>& frames, uint8_t code) {
  int n = 0;
  for (const auto& f : frames) n += f.data[0] == 0x01 && f.data[1] == code;
  return n;
}

SentRequests ReadRequests(const std::vector<CanStreamMessage>& frames) {
  SentRequests sent;
  for (const CanStreamMessage& f : frames) {
    const uint8_t* d = f.data;
    if (d[0] == 0x16 && d[1] == 0x05 && d[2] == 0xB1) sent.sectorAddresses.push_back(BigEndian32(d + 3));
    if ((d[0] & 0xF0) == 0x10 && d[2] == 0xCC) {
      const int offset = d[3] << 8 | d[4];
      sent.parts.push_back({offset, d[5] << 8 | d[6]});
      EXPECT_EQ(((d[0] & 0x0F) << 8 | d[1]) - 5, d[5] << 8 | d[6]) << "message length and count";
      sent.partApiClasses.push_back((f.messageID >> 10) & 0x3F);
      if (offset == 0) sent.firstPartTimes_us.push_back(f.timeStamp);
    }
    if (d[0] == 0x05 && d[1] == 0xCD) sent.commits.push_back(BigEndian32(d + 2));
  }
  return sent;
}

class FieldUpgrade : public ::testing::Test {
 protected:
  void Start(const std::string& devicesJson) {
    sim_ = std::make_unique<SimulatedEngine>(Devices(devicesJson));
    ASSERT_TRUE(sim_->WaitUntilAddressable());
    const size_t devices = sim_->Robot().deviceCount();
    ASSERT_TRUE(tessera_test::WaitUntil(
        [&] {
          sim_->Round();
          return sim_->Listed().size() == devices;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(1)));
  }

  Descriptor Listed(size_t index) {
    return *sim_->Engine().GetDescriptor(sim_->Robot().baseArbId(index));
  }
  DeviceAttributes Attributes(size_t index) {
    DeviceAttributes attributes;
    EXPECT_TRUE(sim_->Robot().attributes(index, &attributes));
    return attributes;
  }
  int Upgrade(const Descriptor& device, const Bytes& file, std::string* message = nullptr,
              int messageSize = 255) {
    std::vector<char> text(static_cast<size_t>(messageSize), 'x');
    const int result = sim_->Front().updateFirmware(&device, file.data(),
                                                    static_cast<unsigned>(file.size()),
                                                    text.data(), messageSize);
    if (message) *message = text.data();
    return result;
  }
  ProgressRecorder WatchProgress() {
    return ProgressRecorder([this](int* p, bool* r) { sim_->Front().checkUpdateProgress(p, r); });
  }
  // The device reports `version` once a round has polled it again.
  bool ListsVersion(size_t index, const std::string& version) {
    return tessera_test::WaitUntil(
        [&] {
          sim_->Round();
          return std::string(Listed(index).currentVers) == version;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(1));
  }

  std::unique_ptr<SimulatedEngine> sim_;
};

TEST_F(FieldUpgrade, WritesTheImageAndTheDeviceRunsItsVersion) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  const BflPlan plan = PlanFor(kKestrelKxCode, 21, 0, 10);
  sim_->Recorder().clear();
  std::string message;
  int result;
  std::vector<int> percents;
  {
    ProgressRecorder progress = WatchProgress();
    result = Upgrade(Listed(0), MakeBflFile(plan), &message);
    EXPECT_TRUE(tessera_test::WaitUntil([&] { return !progress.samples().back().running; }));
    progress.stop();
    percents = progress.runningPercents();
    EXPECT_FALSE(progress.samples().back().running);
    EXPECT_EQ(progress.samples().back().percent, 0);
  }
  EXPECT_EQ(result, QUOR_DI_OKAY);
  EXPECT_EQ(message, "");
  EXPECT_EQ(sim_->Engine().GetLastUpdateResult(), QUOR_DI_OKAY);

  // Ten sectors: after sector i the progress is i * 10; only 11..89 are shown.
  const std::vector<int> allowed = {0, 2, 3, 4, 6, 8, 10, 20, 30, 40, 50, 60, 70, 80, 93, 96, 97, 99};
  for (size_t i = 0; i < percents.size(); ++i) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), percents[i]), allowed.end()) << percents[i];
    if (i > 0) {
      EXPECT_GT(percents[i], percents[i - 1]) << "progress never goes back";
    }
  }
  // The stages that last long enough to be seen by any reader: dynamic ID back, bootloader
  // confirmed, erase, the repeated start, the confirmation.
  for (int stage : {4, 6, 8, 97}) {
    EXPECT_NE(std::find(percents.begin(), percents.end(), stage), percents.end()) << stage;
  }

  const SentRequests sent = ReadRequests(sim_->Recorder().frames());
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < plan.sectors; ++i) expected.push_back(0x8000 + 1536 * i);
  EXPECT_EQ(sent.sectorAddresses, expected) << "in file order, big-endian";
  EXPECT_TRUE(sent.parts.empty());

  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "21.0");
  EXPECT_EQ(Attributes(0).mode, DeviceMode::kApplication);
  EXPECT_EQ(sim_->Engine().GetState(), QuorDeviceInterface::kIdle);
  EXPECT_EQ(CAN_GetSessionHandle(), 0u);
  EXPECT_TRUE(ListsVersion(0, "21.0"));
}

// One upgrade the procedure refuses, or a device fails part of the way, and what it leaves.
struct Case {
  const char* name;
  size_t device;
  BflPlan plan;
  int expected;
  size_t sectorRequests;  // 0xB1 requests sent
  int runRequests;        // 0xB8 requests sent
  const char* firmwareAfter;
  DeviceMode modeAfter;
  const char* message = nullptr;  // when given, read through a buffer of messageSize
  int messageSize = 255;
};

class FieldUpgradeCases : public FieldUpgrade {
 protected:
  // Each upgrade's clean-up has every device take a new dynamic ID; the next one waits for the
  // dynamic-ID server to have settled again by itself.
  void Run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      sim_->Recorder().clear();
      std::string message;
      EXPECT_EQ(Upgrade(Listed(c.device), MakeBflFile(c.plan), &message, c.messageSize),
                c.expected);
      if (c.message != nullptr) {
        EXPECT_EQ(message, c.message);
      }
      const auto frames = sim_->Recorder().frames();
      EXPECT_EQ(ReadRequests(frames).sectorAddresses.size(), c.sectorRequests);
      EXPECT_EQ(CountRequests(frames, 0xB8), c.runRequests);
      if (c.expected == QUOR_DI_BflWrongProduct) {
        EXPECT_EQ(CountRequests(frames, 0xBB), 0) << "refused before any request";
      }
      EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(c.device)), c.firmwareAfter);
      EXPECT_EQ(Attributes(c.device).mode, c.modeAfter);
      EXPECT_EQ(sim_->Engine().GetState(), QuorDeviceInterface::kIdle);
      EXPECT_EQ(CAN_GetSessionHandle(), 0u);
    }
  }
};

constexpr DeviceMode kApp = DeviceMode::kApplication;
constexpr DeviceMode kBoot = DeviceMode::kBootloader;

// The file's product and the bootloader's minimum application version.
TEST_F(FieldUpgradeCases, RefusedFilesLeaveTheApplication) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1},
    {"family": "kestrel kx", "id": 2, "min_app_version": "21.0"},
    {"family": "kestrel kx", "id": 3, "min_app_version": "none"}]})");
  // A device the engine does not know: nothing is examined beyond the file's header.
  Descriptor unknown{};
  unknown.arbId = 0x0204FC30;
  std::strcpy(unknown.name, "Ghost");
  std::string message;
  sim_->Recorder().clear();
  EXPECT_EQ(Upgrade(unknown, MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 1)), &message),
            QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(message, "Ghost : QUOR_DI_InvalidDeviceSpec");
  EXPECT_EQ(CountRequests(sim_->Recorder().frames(), 0xBB), 0);
  EXPECT_EQ(CAN_GetSessionHandle(), 0u);

  BflPlan noVersion = PlanFor(kKestrelKxCode, 255, 255, 2);
  Run({
      // Refused before any request reaches the device (the file checks are the decoder's).
      {"other model", 0, PlanFor(kKestrelKfCode, 21, 0, 2), QUOR_DI_BflWrongProduct, 0, 0, "20.1", kApp,
       "Kestrel KX (Device ID 1) : Selected BFL is for the wrong product"},
      {"message cut", 0, PlanFor(kKestrelKfCode, 21, 0, 2), QUOR_DI_BflWrongProduct, 0, 0, "20.1", kApp,
       "Kestrel K", 10},
      // Below the bootloader's minimum: -112, and back to the application the device holds.
      {"no version", 1, noVersion, QUOR_DI_AppTooOld, 0, 1, "20.1", kApp,
       "Kestrel KX (Device ID 2) : The application file is too old.  It's not supported by this bootloader"},
      {"older than minimum", 1, PlanFor(kKestrelKxCode, 20, 9, 2), QUOR_DI_AppTooOld, 0, 1, "20.1", kApp},
      {"at the minimum", 1, PlanFor(kKestrelKxCode, 21, 0, 2), QUOR_DI_OKAY, 2, 11, "21.0", kApp},
      {"no minimum reported", 2, PlanFor(kKestrelKxCode, 1, 0, 2), QUOR_DI_OKAY, 2, 11, "1.0", kApp},
  });
}

// Erased, then the bootloader's own check decides: nothing written is no application.
TEST_F(FieldUpgradeCases, EmptyTransfersFailValidation) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  BflPlan badFirstSector = PlanFor(kKestrelKxCode, 21, 0, 3);
  badFirstSector.badMarkerSector = 0;
  Run({
      {"no sectors", 0, PlanFor(kKestrelKxCode, 21, 0, 0), QUOR_DI_CouldNotValidate, 0, 0, "255.255", kBoot},
      {"malformed first sector", 0, badFirstSector, QUOR_DI_CouldNotValidate, 0, 0, "255.255", kBoot},
  });
}

TEST_F(FieldUpgradeCases, DevicesThatStopAnsweringEndTheirStep) {
  Start(R"({"devices": [
    {"family": "kestrel kx", "id": 1, "faults": {"no_answer": ["0xB9"]}},
    {"family": "kestrel kx", "id": 2, "faults": {"lost_sector_ack": 1}},
    {"family": "kestrel kx", "id": 3, "faults": {"no_answer": [184]}}]})");
  Run({
      {"no bootloader entry", 0, PlanFor(kKestrelKxCode, 21, 0, 2), QUOR_DI_CouldNotEnterBl, 0, 0, "20.1", kApp},
      // A whole sector is never sent twice.
      {"sector 1 not acknowledged", 1, PlanFor(kKestrelKxCode, 21, 0, 4), QUOR_DI_CouldNotSendFlash, 2, 0, "255.255", kBoot},
      {"no start", 2, PlanFor(kKestrelKxCode, 21, 0, 2), QUOR_DI_CouldNotRunApp, 2, 1, "255.255", kBoot},
  });
}

// A device unplugged mid-upgrade fails the step it was in; plugged in again it starts its
// bootloader (its image is incomplete), and a second upgrade brings it back to an application.
TEST_F(FieldUpgrade, UnpluggedMidUpgradeCanBeUpgradedAgain) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1, "faults": {"unplug_after_sectors": 2}}]})");
  sim_->Recorder().clear();
  EXPECT_EQ(Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 5))),
            QUOR_DI_CouldNotSendFlash);
  EXPECT_FALSE(sim_->Robot().isPlugged(0));
  EXPECT_EQ(ReadRequests(sim_->Recorder().frames()).sectorAddresses.size(), 3u);
  EXPECT_TRUE(tessera_test::WaitUntil([&] {
    return !sim_->Recorder().framesWithId(0x0004F9BF).empty();
  })) << "dynamic IDs released";
  EXPECT_EQ(sim_->Engine().GetState(), QuorDeviceInterface::kIdle);
  EXPECT_EQ(CAN_GetSessionHandle(), 0u);

  ASSERT_TRUE(sim_->Robot().plugIn(0));
  EXPECT_EQ(Attributes(0).mode, DeviceMode::kBootloader);
  ASSERT_TRUE(sim_->WaitUntilAddressable());
  EXPECT_EQ(Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 22, 0, 5))), QUOR_DI_OKAY);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "22.0");
  EXPECT_EQ(Attributes(0).mode, DeviceMode::kApplication);
  EXPECT_TRUE(ListsVersion(0, "22.0"));
}

// A second upgrade waits for the first to end; meanwhile the progress is read without the lock.
TEST_F(FieldUpgrade, SecondUpgradeWaitsAndProgressNeverBlocks) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}, {"family": "kestrel kf", "id": 2}]})");
  BflPlan kf = PlanFor(kKestrelKfCode, 23, 1, 3);
  kf.versionParts = 4;
  ProgressRecorder progress = WatchProgress();
  auto first = std::async(std::launch::async, [&] {
    return Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 3)));
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return !progress.runningPercents().empty(); }));
  auto second = std::async(std::launch::async, [&] { return Upgrade(Listed(1), MakeBflFile(kf)); });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
      << "the second upgrade runs only once the first has let go of the lock";
  EXPECT_EQ(first.get(), QUOR_DI_OKAY);
  EXPECT_EQ(second.get(), QUOR_DI_OKAY);
  progress.stop();
  // Two runs, each climbing on its own: the progress falls back once, between them.
  const std::vector<int> percents = progress.runningPercents();
  int fallsBack = 0;
  for (size_t i = 1; i < percents.size(); ++i) fallsBack += percents[i] < percents[i - 1];
  EXPECT_EQ(fallsBack, 1) << ::testing::PrintToString(percents);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "21.0");
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(1)), "23.1.0.0");
}

// The dynamic-ID server empties its tables when it rebuilds them (after 1.2 s without ID
// requests). If that happens while the device restarts into its bootloader, the IDs counted
// before (including one it had left behind) are gone: the device is back once it has one.
TEST_F(FieldUpgrade, TablesRebuiltWhileTheDeviceRestartsDoNotFailTheUpgrade) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  CanDhcpServer& dhcp = sim_->Engine().DhcpServer();
  const uint32_t kestrel = sim_->Robot().baseArbId(0);
  // A reset leaves the device's old dynamic ID in the tables beside its new one.
  ASSERT_TRUE(sim_->Robot().setMode(0, DeviceMode::kApplication));
  ASSERT_TRUE(tessera_test::WaitUntil([&] {
    uint32_t newest = 0;
    return dhcp.LookupDynId(kestrel, newest) == 2 &&
           static_cast<int>(newest & 0x3F) == sim_->Robot().dynamicNumber(0);
  }));
  auto upgrade = std::async(std::launch::async, [&] {
    return Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 2)));
  });
  // Counted (progress 4 follows the count at once); the restart's new ID takes a few dynamic-ID
  // steps of 20 ms to come back.
  ASSERT_TRUE(tessera_test::WaitUntil([&] {
    int percent = 0;
    bool running = false;
    sim_->Front().checkUpdateProgress(&percent, &running);
    return running && percent >= 4;
  }, std::chrono::seconds(5), std::chrono::microseconds(20)));
  dhcp.ClearMaps();
  EXPECT_EQ(upgrade.get(), QUOR_DI_OKAY);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "21.0");
}

// An IMU on a motor controller's ribbon cable gets its sectors in parts of 110 bytes through
// the controller's alternate channel; a part whose acknowledgement is lost is sent again
// after 2 s, twice lost ends the upgrade.
TEST_F(FieldUpgrade, RibbonImuTakesSectorsInPartsAndResendsALostOne) {
  Start(R"({"devices": [
    {"family": "kestrel kx", "id": 1}, {"family": "wren", "id": 1, "ribbon": true,
     "faults": {"lost_sector_ack": 1}},
    {"family": "harrier hx", "id": 3}, {"family": "wren", "id": 3, "ribbon": true,
     "faults": {"lost_sector_ack": 0, "lost_sector_ack_always": true}}]})");
  const Descriptor imu = Listed(1);
  EXPECT_STREQ(imu.name, "Wren connected to Kestrel KX (Device ID 1)");
  EXPECT_STREQ(imu.model, "Wren Over Ribbon");

  sim_->Recorder().clear();
  const BflPlan plan = PlanFor(kWrenCode, 21, 4, 2);
  EXPECT_EQ(Upgrade(imu, MakeBflFile(plan)), QUOR_DI_OKAY);
  const SentRequests sent = ReadRequests(sim_->Recorder().frames());
  std::vector<std::pair<int, int>> expectedParts;
  for (int sector = 0; sector < 2; ++sector) {
    for (int offset = 0; offset < 1536; offset += 110)
      expectedParts.push_back({offset, offset == 1430 ? 106 : 110});
    if (sector == 1) expectedParts.insert(expectedParts.begin() + 14, {0, 110});  // resent
  }
  EXPECT_EQ(sent.parts, expectedParts);
  EXPECT_EQ(sent.commits, (std::vector<uint32_t>{0x8000, 0x8600}));
  for (uint32_t apiClass : sent.partApiClasses) EXPECT_EQ(apiClass, 0x3Cu) << "alternate channel";
  ASSERT_EQ(sent.firstPartTimes_us.size(), 3u);
  const uint64_t resendGap_us = sent.firstPartTimes_us[2] - sent.firstPartTimes_us[1];
  EXPECT_GE(resendGap_us, 3000000u) << "1 s without an answer, then a 2 s pause";
  EXPECT_LT(resendGap_us, 4500000u);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(1)), "21.4");
  EXPECT_TRUE(ListsVersion(1, "21.4"));

  ASSERT_TRUE(sim_->WaitUntilAddressable());
  EXPECT_EQ(Upgrade(Listed(3), MakeBflFile(plan)), QUOR_DI_CouldNotSendFlash);
  EXPECT_EQ(Attributes(3).mode, DeviceMode::kBootloader);
}

}  // namespace
