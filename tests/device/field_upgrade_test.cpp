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
#include "runtime/cs.h"
#include "sim/bfl_writer.h"
#include "sim/device_file.h"
#include "simulated_engine.h"
#include "tests/support/driven_engine_clock.h"
#include "tests/support/progress_recorder.h"

namespace {

using engine_test::SimulatedEngine;
using quor::tessera::sim::BflPlan;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::DeviceMode;
using quor::tessera::sim::MakeBflFile;
using quor::tessera::sim::PlanFor;
using tessera_test::DrivenEngineClock;
using tessera_test::ProgressAtRequests;
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

// A one-byte request with `code`: the single frame 01 code, padded.
bool IsRequest(const CanStreamMessage& f, uint8_t code) {
  return f.dataSize == 8 && f.data[0] == 0x01 && f.data[1] == code &&
         std::all_of(f.data + 2, f.data + 8, [](uint8_t b) { return b == 0xAA; });
}

int CountRequests(const std::vector<CanStreamMessage>& frames, uint8_t code) {
  return static_cast<int>(
      std::count_if(frames.begin(), frames.end(), [code](const auto& f) { return IsRequest(f, code); }));
}

// The dynamic-ID reset that has every device take a new ID.
constexpr uint32_t kResetAllId = 0x0004F9BF;
constexpr int64_t kPastAnyWait_ns = 10000000000;  // longer than the longest wait (the erase)

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
  // Every device with a dynamic ID is listed; one with a static address only is filed at its
  // own address, as a Kestrel KX (the rounds poll only devices the dynamic-ID server knows).
  void Start(const std::string& devicesJson) {
    sim_ = std::make_unique<SimulatedEngine>(Devices(devicesJson));
    ASSERT_TRUE(sim_->WaitUntilAddressable());
    size_t dynamicDevices = 0;
    for (size_t i = 0; i < sim_->Robot().deviceCount(); ++i) dynamicDevices += Attributes(i).dynamicIds;
    ASSERT_TRUE(tessera_test::WaitUntil(
        [&] {
          sim_->Round();
          return sim_->Listed().size() == dynamicDevices;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(1)));
    for (size_t i = 0; i < sim_->Robot().deviceCount(); ++i) {
      if (Attributes(i).dynamicIds) continue;
      const uint32_t id = sim_->Robot().baseArbId(i);
      _Device& device = *sim_->Engine().InsertFoundDevice(id, id);
      device.modelCode = kKestrelKxCode;
      device.descriptor.dynamicId = id;
      std::strcpy(device.descriptor.model, "Kestrel KX");  // kept by the rounds' stale pass
    }
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

// The progress a reader sees at each request, from the stages' values: 2 with the first query,
// 4 entering the bootloader, 6 confirming it and checking the image, 8 erasing, 10 at the first
// sector; after sector i of n it is i * 100 / n, shown only from 11 to 89; 93 validating, 96
// starting the application, 97 repeating the start, 99 confirming it.
std::vector<std::pair<uint8_t, int>> ExpectedProgress(uint32_t sectors) {
  std::vector<std::pair<uint8_t, int>> expected = {{0xBB, 2}, {0xB9, 4}, {0xBB, 6}, {0xB5, 6},
                                                   {0xB7, 8}};
  int shown = 10;
  for (uint32_t i = 0; i < sectors; ++i) {
    expected.push_back({0xB1, shown});
    const int percent = static_cast<int>(i * 100 / sectors);
    if (percent >= 11 && percent <= 89) shown = percent;
  }
  expected.push_back({0xB5, 93});
  expected.push_back({0xB8, 96});
  for (int repeat = 0; repeat < 10; ++repeat) expected.push_back({0xB8, 97});
  expected.push_back({0xBB, 99});
  return expected;
}

TEST_F(FieldUpgrade, WritesTheImageAndTheDeviceRunsItsVersion) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  // 100 sectors: every percent from 11 to 89 is shown, each at the sector after its own.
  const BflPlan plan = PlanFor(kKestrelKxCode, 21, 0, 100);
  sim_->Recorder().clear();
  std::string message;
  int result;
  std::vector<std::pair<uint8_t, int>> seen;
  {
    ProgressAtRequests progress(sim_->Recorder(), [this](int* p, bool* r) {
      sim_->Front().checkUpdateProgress(p, r);
    });
    result = Upgrade(Listed(0), MakeBflFile(plan), &message);
    for (const auto& sample : progress.samples()) {
      EXPECT_TRUE(sample.running);
      seen.push_back({sample.code, sample.percent});
    }
  }
  EXPECT_EQ(result, QUOR_DI_OKAY);
  EXPECT_EQ(message, "");
  EXPECT_EQ(sim_->Engine().GetLastUpdateResult(), QUOR_DI_OKAY);
  EXPECT_EQ(seen, ExpectedProgress(plan.sectors));
  int percent = -1;
  bool running = true;
  sim_->Front().checkUpdateProgress(&percent, &running);
  EXPECT_FALSE(running);
  EXPECT_EQ(percent, 0);

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
  // Frames that let the engine's clock jump past the wait in progress (a request the device
  // will not answer), and what to do at that moment on the engine's thread.
  DrivenEngineClock::Matches jumpOn = nullptr;
  std::function<void()> atJump = nullptr;
  int64_t jump_ns = kPastAnyWait_ns;
  bool pluggedAfter = true;
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
      std::unique_ptr<DrivenEngineClock> clock;
      if (c.jumpOn)
        clock = std::make_unique<DrivenEngineClock>(sim_->Recorder().Bus(), c.jumpOn, c.jump_ns,
                                                    c.atJump);
      EXPECT_EQ(Upgrade(Listed(c.device), MakeBflFile(c.plan), &message, c.messageSize),
                c.expected);
      if (clock) {
        EXPECT_GT(clock->jumps(), 0);
      }
      clock.reset();
      if (c.message != nullptr) {
        EXPECT_EQ(message, c.message);
      }
      const auto frames = sim_->Recorder().frames();
      EXPECT_EQ(ReadRequests(frames).sectorAddresses.size(), c.sectorRequests);
      EXPECT_EQ(CountRequests(frames, 0xB8), c.runRequests);
      if (c.expected <= QUOR_DI_BflBadHeader && c.expected >= QUOR_DI_BflBadSectorSize) {
        // Refused before any request: nothing reaches the device, and no device loses its
        // dynamic ID.
        EXPECT_EQ(CountRequests(frames, 0xBB), 0) << "refused before any request";
        EXPECT_TRUE(sim_->Recorder().framesWithId(kResetAllId).empty()) << "nothing released";
      }
      EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(c.device)), c.firmwareAfter);
      EXPECT_EQ(Attributes(c.device).mode, c.modeAfter);
      EXPECT_EQ(sim_->Robot().isPlugged(c.device), c.pluggedAfter);
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
  EXPECT_TRUE(sim_->Recorder().framesWithId(kResetAllId).empty()) << "nothing released";
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

BflPlan Malformed(uint32_t sectors, const std::function<void(BflPlan&)>& defect) {
  BflPlan plan = PlanFor(kKestrelKxCode, 21, 0, sectors);
  defect(plan);
  return plan;
}

// The whole file is checked before the first request: a malformed one is refused, and the
// device keeps the application it runs (instead of being erased and flashed in part).
TEST_F(FieldUpgradeCases, MalformedFilesAreRefusedBeforeAnythingIsSent) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  const uint32_t lastStart = 0x00080000 - 1536;  // the last sector the region holds
  Run({
      {"no sectors", 0, PlanFor(kKestrelKxCode, 21, 0, 0), QUOR_DI_BflNoSectors, 0, 0, "20.1", kApp,
       "Kestrel KX (Device ID 1) : Invalid BFL Operation : No Sectors available"},
      {"malformed first sector", 0, Malformed(3, [](BflPlan& p) { p.badMarkerSector = 0; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp},
      {"bad marker at record 4 of 8", 0, Malformed(8, [](BflPlan& p) { p.badMarkerSector = 3; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp,
       "Kestrel KX (Device ID 1) : Invalid BFL File : Bad Sector Header"},
      {"size 1537 at record 2", 0, Malformed(4, [](BflPlan& p) { p.badSizeSector = 1; }),
       QUOR_DI_BflBadSectorSize, 0, 0, "20.1", kApp},
      {"address 0xFFFFFFFF at record 3", 0,
       Malformed(4, [](BflPlan& p) { p.movedSector = 2, p.movedAddress = 0xFFFFFFFF; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp},
      {"below the region", 0, Malformed(2, [](BflPlan& p) { p.firstAddress = 0x8000 - 1536; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp},
      {"one byte past the region", 0, Malformed(2, [&](BflPlan& p) { p.firstAddress = lastStart - 1535; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp},
      {"overlapping sectors", 0, Malformed(3, [](BflPlan& p) { p.movedSector = 2, p.movedAddress = 0x8000 + 1535; }),
       QUOR_DI_BflBadSectorHeader, 0, 0, "20.1", kApp},
      {"more sectors than the region holds", 0, PlanFor(kKestrelKxCode, 21, 0, 321),
       QUOR_DI_BflBadFileSize, 0, 0, "20.1", kApp},
      // The edge itself is flashed: the region's last sector, right after the one before.
      {"up to the region's end", 0, Malformed(2, [&](BflPlan& p) { p.firstAddress = lastStart - 1536; }),
       QUOR_DI_OKAY, 2, 11, "0.0", kApp},
  });
}

// Devices that stop answering at one step: the step's code, and where the device is left. The
// waits for answers that will not come pass on the engine's driven clock.
TEST_F(FieldUpgradeCases, DevicesThatStopAnsweringEndTheirStep) {
  Start(R"({"devices": [
    {"family": "kestrel kx", "id": 1, "faults": {"no_answer": ["0xB9"]}},
    {"family": "kestrel kx", "id": 2, "faults": {"lost_sector_ack": 1}},
    {"family": "kestrel kx", "id": 3, "faults": {"no_answer": [184]}},
    {"family": "kestrel kx", "id": 4},
    {"family": "kestrel kx", "id": 5, "faults": {"no_answer": ["0xB7"]}},
    {"family": "kestrel kx", "id": 6, "faults": {"no_answer": ["0xB5"]}},
    {"family": "kestrel kx", "id": 7, "faults": {"lost_sector_ack": 0, "lost_sector_ack_always": true}}]})");
  const BflPlan two = PlanFor(kKestrelKxCode, 21, 0, 2);
  Case silent{"no answer to the first query", 3, two, QUOR_DI_EcuIsNotPresent, 0, 0, "20.1",
              DeviceMode::kSilent, "Kestrel KX (Device ID 4) : QUOR_DI_EcuIsNotPresent"};
  ASSERT_TRUE(sim_->Robot().setMode(3, DeviceMode::kSilent));
  Case noErase{"no erase answer", 4, two, QUOR_DI_CouldNotErase, 0, 0, "20.1", kBoot};
  noErase.jumpOn = [](const CanStreamMessage& f) { return IsRequest(f, 0xB7); };
  Run({
      {"no bootloader entry", 0, two, QUOR_DI_CouldNotEnterBl, 0, 0, "20.1", kApp},
      // A whole sector is never sent twice.
      {"sector 1 not acknowledged", 1, PlanFor(kKestrelKxCode, 21, 0, 4), QUOR_DI_CouldNotSendFlash, 2, 0, "255.255", kBoot},
      {"sector 0 never acknowledged", 6, two, QUOR_DI_CouldNotSendFlash, 1, 0, "255.255", kBoot},
      {"no start", 2, two, QUOR_DI_CouldNotRunApp, 2, 1, "255.255", kBoot},
      silent,
      noErase,
      // The image check before the erase only informs: the erase goes ahead, and the check
      // after the sectors decides.
      {"no image check answers", 5, two, QUOR_DI_CouldNotValidate, 2, 0, "255.255", kBoot},
  });
}

// A host held up while a sector is on its way (a loaded machine) leaves the device its whole
// second to acknowledge, counted from the sector's last frame: the engine's clock jumps 1.5 s
// at each sector's first frame, before the device has even asked for the rest.
TEST_F(FieldUpgradeCases, AHostHeldUpDuringASectorStillGetsItsAcknowledgement) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  Case heldUp{"held up at each sector", 0, PlanFor(kKestrelKxCode, 21, 0, 2), QUOR_DI_OKAY, 2, 11, "21.0", kApp};
  heldUp.jumpOn = [](const CanStreamMessage& f) { return f.data[0] == 0x16 && f.data[2] == 0xB1; };
  heldUp.jump_ns = 1500000000;
  Run({heldUp});
}

// Devices that do not come back as they should after a restart, by dynamic ID or at their own
// address (static): the step's code, and where the device is left.
TEST_F(FieldUpgradeCases, DevicesThatDoNotComeBackEndTheirStep) {
  Start(R"({"devices": [
    {"family": "kestrel kx", "id": 1, "faults": {"unplug_after_request": "0xB9"}},
    {"family": "kestrel kx", "id": 2, "faults": {"unplug_after_request": "0xB9"}},
    {"family": "kestrel kx", "id": 3, "faults": {"application_fails_to_start": true}},
    {"family": "kestrel kx", "id": 4, "dynamic_ids": false},
    {"family": "kestrel kx", "id": 5, "dynamic_ids": false, "faults": {"unplug_after_request": "0xB9"}},
    {"family": "kestrel kx", "id": 6, "dynamic_ids": false, "faults": {"application_fails_to_start": true}}]})");
  const BflPlan two = PlanFor(kKestrelKxCode, 21, 0, 2);
  const auto enteredBootloader = [](const CanStreamMessage& f) {
    return f.data[0] == 0x01 && f.data[1] == 0xF9;  // the answer to entering the bootloader
  };
  // Gone after entering its bootloader: no dynamic-ID report within 3 s, which pass on the
  // driven clock at the first frame (another device's) after the answer.
  Case noReport{"no dynamic ID after the restart", 0, two, QUOR_DI_DidNotGetDhcp, 0, 0, "20.1", kApp};
  noReport.pluggedAfter = false;
  noReport.jumpOn = [enteredBootloader, answered = false, jumped = false](const CanStreamMessage& f) mutable {
    const bool jump = answered && !jumped;
    jumped = jumped || jump;
    answered = answered || enteredBootloader(f);
    return jump;
  };
  // The others report (the tables rebuilt meanwhile), the device does not.
  CanDhcpServer& dhcp = sim_->Engine().DhcpServer();
  Case othersReport{"only other devices report", 1, two, QUOR_DI_DidNotGetFullDhcp, 0, 0, "20.1", kApp};
  othersReport.pluggedAfter = false;
  othersReport.jumpOn = enteredBootloader;
  othersReport.jump_ns = 0;
  othersReport.atJump = [&dhcp] {
    dhcp.ClearMaps();
    dhcp.ReRequestDynList();
  };
  // A static device that is gone: 100 bootloader queries without an answer, on the driven clock.
  Case staticGone{"static device gone after the restart", 4, two, QUOR_DI_CouldNotConfirmBl, 0, 0, "20.1", kApp};
  staticGone.pluggedAfter = false;
  staticGone.jumpOn = [restarted = false](const CanStreamMessage& f) mutable {
    restarted = restarted || IsRequest(f, 0xB9);
    return restarted && IsRequest(f, 0xBB);
  };
  Run({
      noReport,
      othersReport,
      // The new application does not start: every confirmation comes from the bootloader.
      {"application does not start", 2, two, QUOR_DI_CouldNotRunApp, 2, 11, "255.255", kBoot,
       "Kestrel KX (Device ID 3) : QUOR_DI_CouldNotRunApp"},
      {"static address", 3, two, QUOR_DI_OKAY, 2, 11, "21.0", kApp, ""},
      staticGone,
      {"static application does not start", 5, two, QUOR_DI_CouldNotRunApp, 2, 11, "255.255", kBoot},
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

// From its acceptance an upgrade counts as running, also while it still waits for the lock (here
// held as a listing round would): the progress says so at 0 %, and a second upgrade is refused
// at once without touching its device. Once the first has ended, the next one runs.
TEST_F(FieldUpgrade, AnAcceptedUpgradeCountsAsRunningAndASecondIsRefused) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}, {"family": "kestrel kf", "id": 2}]})");
  BflPlan kf = PlanFor(kKestrelKfCode, 23, 1, 3);
  kf.versionParts = 4;
  std::future<int> first;
  {
    CsH listing(_lck);
    first = std::async(std::launch::async, [&] {
      return Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 3)));
    });
    int percent = -1;
    bool running = false;
    ASSERT_TRUE(tessera_test::WaitUntil([&] {
      sim_->Front().checkUpdateProgress(&percent, &running);
      return running;
    }));
    EXPECT_EQ(percent, 0);
    sim_->Recorder().clear();
    std::string message;
    EXPECT_EQ(Upgrade(Listed(1), MakeBflFile(kf), &message), QUOR_DI_TaskIsBusy);
    EXPECT_EQ(message, "Kestrel KF (Device ID 2) : QUOR_DI_TaskIsBusy");
    EXPECT_EQ(CountRequests(sim_->Recorder().frames(), 0xBB), 0);
  }
  EXPECT_EQ(first.get(), QUOR_DI_OKAY);
  EXPECT_EQ(Upgrade(Listed(1), MakeBflFile(kf)), QUOR_DI_OKAY);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "21.0");
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(1)), "23.1.0.0");
}

// Stopping the engine (the server closing) ends an upgrade at its next sector boundary: the
// device waits in its bootloader with part of the image, and an upgrade after the restart brings
// it back. An upgrade that has sent nothing yet is refused and leaves the device as it was.
TEST_F(FieldUpgrade, AStopEndsTheUpgradeAtASectorBoundary) {
  Start(R"({"devices": [{"family": "kestrel kx", "id": 1}]})");
  const auto running = [this] {
    int percent = 0;
    bool upgrading = false;
    sim_->Front().checkUpdateProgress(&percent, &upgrading);
    return upgrading ? percent : -1;
  };
  sim_->Recorder().clear();
  std::future<int> waiting;
  std::future<int> stop;
  {
    CsH listing(_lck);
    waiting = std::async(std::launch::async, [&] {
      return Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, 4)));
    });
    ASSERT_TRUE(tessera_test::WaitUntil([&] { return running() == 0; }));
    stop = std::async(std::launch::async, [&] { return sim_->Front().dispose(); });
    ASSERT_TRUE(tessera_test::WaitUntil([&] { return sim_->Engine().UpgradesStopped(); }));
  }
  EXPECT_EQ(waiting.get(), QUOR_DI_UpgradeStopped);
  EXPECT_EQ(stop.get(), 0);
  EXPECT_FALSE(sim_->Front().IsWorkerRunning());
  EXPECT_EQ(CountRequests(sim_->Recorder().frames(), 0xBB), 0);
  EXPECT_EQ(Attributes(0).mode, kApp);

  sim_->Front().restart();
  ASSERT_TRUE(sim_->WaitUntilAddressable());
  sim_->Recorder().clear();
  const uint32_t sectors = 40;
  auto upgrade = std::async(std::launch::async, [&] {
    return Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 21, 0, sectors)));
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return running() >= 20; }, std::chrono::seconds(20)));
  EXPECT_EQ(sim_->Front().dispose(), 0) << "returns once the upgrade has ended";
  EXPECT_NE(upgrade.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  EXPECT_EQ(upgrade.get(), QUOR_DI_UpgradeStopped);
  EXPECT_EQ(sim_->Engine().GetLastUpdateResult(), QUOR_DI_UpgradeStopped);
  const auto frames = sim_->Recorder().frames();
  const size_t written = ReadRequests(frames).sectorAddresses.size();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, sectors);
  EXPECT_EQ(CountRequests(frames, 0xB8), 0) << "nothing validated or started";
  EXPECT_FALSE(sim_->Recorder().framesWithId(kResetAllId).empty()) << "IDs released while the worker still ran";
  EXPECT_EQ(Attributes(0).mode, kBoot);

  sim_->Front().restart();
  ASSERT_TRUE(sim_->WaitUntilAddressable());
  EXPECT_EQ(Upgrade(Listed(0), MakeBflFile(PlanFor(kKestrelKxCode, 22, 0, 2))), QUOR_DI_OKAY);
  EXPECT_EQ(quor::tessera::sim::FirmwareText(Attributes(0)), "22.0");
  EXPECT_EQ(Attributes(0).mode, kApp);
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
  sim_->Recorder().clear();
  EXPECT_EQ(Upgrade(Listed(3), MakeBflFile(plan)), QUOR_DI_CouldNotSendFlash);
  EXPECT_EQ(Attributes(3).mode, DeviceMode::kBootloader);
  // The first part, sent twice, and nothing after it.
  const SentRequests lost = ReadRequests(sim_->Recorder().frames());
  EXPECT_EQ(lost.parts, (std::vector<std::pair<int, int>>{{0, 110}, {0, 110}}));
  EXPECT_TRUE(lost.commits.empty());
}

}  // namespace
