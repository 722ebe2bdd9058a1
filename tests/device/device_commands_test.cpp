// One-shot commands against simulated devices: new device number, names, LED and sticky
// faults, factory defaults, calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>
#include <string>
#include <vector>

#include "device/error_codes.h"
#include "tests/support/bus_recorder.h"
#include "sim/builtin_robot.h"
#include "sim/device_file.h"
#include "simulated_engine.h"

namespace {

using engine_test::SimulatedEngine;
using Descriptor = CANDeviceInterface1::DeviceDescriptor;
using quor::tessera::sim::DeviceAttributes;

constexpr size_t kPdp = 0;
constexpr size_t kKestrelKx = 2;
constexpr size_t kHarrier = 4;
constexpr size_t kWren = 5;

class DeviceCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    auto devices = quor::tessera::sim::BuiltInRobot();
    devices.resize(6);
    sim_ = std::make_unique<SimulatedEngine>(devices);
    ASSERT_TRUE(sim_->WaitUntilAddressable());
    ASSERT_EQ(sim_->RoundsUntilListed(6), 6u);
  }

  Descriptor Listed(size_t index) { return *sim_->Engine().GetDescriptor(sim_->Robot().baseArbId(index)); }
  DeviceAttributes Attributes(size_t index) {
    DeviceAttributes attributes;
    EXPECT_TRUE(sim_->Robot().attributes(index, &attributes));
    return attributes;
  }

  std::unique_ptr<SimulatedEngine> sim_;
};

TEST_F(DeviceCommands, NewDeviceNumberRekeysTheDevice) {
  Descriptor kestrel = Listed(kKestrelKx);
  ASSERT_EQ(kestrel.arbId, 0x0204FC01u);
  const uint32_t foundIndex = kestrel.foundIndex;
  ASSERT_EQ(sim_->Front().assignDeviceID(&kestrel, 7), QUOR_DI_OKAY);
  EXPECT_EQ(kestrel.arbId, 0x0204FC07u);
  EXPECT_STREQ(kestrel.name, "Kestrel KX (Device ID 7)");
  EXPECT_EQ(kestrel.foundIndex, foundIndex);
  EXPECT_EQ(Attributes(kKestrelKx).deviceNumber, 7);
  EXPECT_EQ(sim_->Engine().GetDevice(0x0204FC01), nullptr);
  ASSERT_NE(sim_->Engine().GetDevice(0x0204FC07), nullptr);
  // The dynamic-ID server followed the change, so the device is still polled under its new ID.
  uint32_t dynamicId = 0;
  EXPECT_EQ(sim_->Engine().DhcpServer().LookupDynId(0x0204FC07, dynamicId), 1u);
  for (int round = 0; round < 2; ++round) sim_->Round();
  EXPECT_EQ(sim_->Listed().size(), 6u);
  EXPECT_EQ(std::string(sim_->Engine().GetDescriptor(0x0204FC07)->currentVers).find("stale"),
            std::string::npos);
}

TEST_F(DeviceCommands, DeviceNumberRangeAndUnknownDevices) {
  Descriptor kestrel = Listed(kKestrelKx);
  EXPECT_EQ(sim_->Front().assignDeviceID(&kestrel, 63), QUOR_DI_NodeIsInvalid);
  EXPECT_EQ(Attributes(kKestrelKx).deviceNumber, 1);
  EXPECT_EQ(sim_->Front().assignDeviceID(&kestrel, 62), QUOR_DI_OKAY);
  EXPECT_EQ(Attributes(kKestrelKx).deviceNumber, 62);
  Descriptor unknown{};
  unknown.arbId = 0x0204FC30;
  EXPECT_EQ(sim_->Front().assignDeviceID(&unknown, 3), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(sim_->Front().saveDeviceName(&unknown, "x"), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(sim_->Front().saveLightLed(&unknown, true), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(sim_->Front().factoryDefault(&unknown), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(sim_->Front().enterCalibration(&unknown, 0), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(sim_->Engine().GetState(), QuorDeviceInterface::kIdle);
}

TEST_F(DeviceCommands, SilentDeviceIsNotPresent) {
  Descriptor kestrel = Listed(kKestrelKx);
  ASSERT_TRUE(sim_->Robot().unplug(kKestrelKx));
  EXPECT_EQ(sim_->Front().assignDeviceID(&kestrel, 5), QUOR_DI_EcuIsNotPresent);
  EXPECT_EQ(sim_->Front().saveDeviceName(&kestrel, "x"), QUOR_DI_EcuIsNotPresent);
  EXPECT_EQ(sim_->Front().factoryDefault(&kestrel), QUOR_DI_EcuIsNotPresent);
  EXPECT_EQ(sim_->Engine().GetDevice(0x0204FC05), nullptr);
}

// A command that finds a device silent leaves the listing to the discovery rounds: the device
// stays listed until its next poll, which hides it because it is still silent.
TEST_F(DeviceCommands, SilentPresenceCheckLeavesTheListingToTheRounds) {
  Descriptor kestrel = Listed(kKestrelKx);
  ASSERT_TRUE(sim_->Robot().setMode(kKestrelKx, quor::tessera::sim::DeviceMode::kSilent));
  EXPECT_EQ(sim_->Front().saveLightLed(&kestrel, true), QUOR_DI_EcuIsNotPresent);
  EXPECT_EQ(sim_->Front().factoryDefault(&kestrel), QUOR_DI_EcuIsNotPresent);
  EXPECT_EQ(sim_->Listed().size(), 6u);
  for (int round = 0; round < 2; ++round) sim_->Round();
  EXPECT_EQ(sim_->Listed().size(), 5u);
}

TEST_F(DeviceCommands, CustomNameIsStoredAndReadBack) {
  Descriptor kestrel = Listed(kKestrelKx);
  ASSERT_EQ(sim_->Front().saveDeviceName(&kestrel, "Arm"), QUOR_DI_OKAY);
  EXPECT_EQ(Attributes(kKestrelKx).customName, "Arm");
  EXPECT_STREQ(kestrel.name, "Arm");
  EXPECT_TRUE(kestrel.respFlags & resp_flag::kCustomNameInUse);

  ASSERT_EQ(sim_->Front().saveDeviceName(&kestrel, ""), QUOR_DI_OKAY);
  EXPECT_EQ(Attributes(kKestrelKx).customName, "");
  EXPECT_STREQ(kestrel.name, "Kestrel KX (Device ID 1)");
}

TEST_F(DeviceCommands, LongNamesAreCutTo197Bytes) {
  Descriptor kestrel = Listed(kKestrelKx);
  const std::string longName(300, 'q');
  ASSERT_EQ(sim_->Front().saveDeviceName(&kestrel, longName.c_str()), QUOR_DI_OKAY);
  EXPECT_EQ(Attributes(kKestrelKx).customName, std::string(197, 'q'));
  EXPECT_EQ(std::string(kestrel.name), std::string(63, 'q'));
}

TEST_F(DeviceCommands, BlinkClearsStickyFaults) {
  Descriptor kestrel = Listed(kKestrelKx);
  EXPECT_EQ(sim_->Front().saveLightLed(&kestrel, true), 1) << "the controller confirms the clear";

  Descriptor pdp = Listed(kPdp);
  sim_->Recorder().clear();
  EXPECT_EQ(sim_->Front().saveLightLed(&pdp, true), 0) << "a raw frame has no confirmation";
  const auto frames = sim_->Recorder().framesWithId(0x08041C00);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].dataSize, 1);
  EXPECT_EQ(frames[0].data[0], 0x80);
}

TEST_F(DeviceCommands, FactoryDefaults) {
  Descriptor kestrel = Listed(kKestrelKx);
  EXPECT_EQ(sim_->Front().factoryDefault(&kestrel), QUOR_DI_OKAY);
  quor::tessera::sim::CommandEffects effects(Attributes(kKestrelKx).family);
  ASSERT_TRUE(sim_->Robot().commandEffects(kKestrelKx, &effects));
  EXPECT_EQ(effects.factoryDefaults(), 1u);
  EXPECT_EQ(effects.stickyFaultClears(), 0u);
}

TEST_F(DeviceCommands, CalibrationOnlyForImus) {
  Descriptor harrier = Listed(kHarrier);
  EXPECT_EQ(sim_->Front().enterCalibration(&harrier, 0), QUOR_DI_FeatureNotSupported);
  Descriptor wren = Listed(kWren);
  sim_->Recorder().clear();
  EXPECT_EQ(sim_->Front().enterCalibration(&wren, 0), QUOR_DI_OKAY);
  const auto frames = sim_->Recorder().framesWithId(0x15042C84);
  ASSERT_EQ(frames.size(), 1u);
  const uint8_t expected[] = {0x0A, 0x50, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(frames[0].dataSize, 8);
  EXPECT_EQ(std::memcmp(frames[0].data, expected, 8), 0);
}

// The raw frames carry the device's own number; no session with the device is needed.
TEST(RawDeviceFrames, StickyFaultFramesPerDeviceType) {
  tessera_test::BusRecorder bus;
  QuorDeviceInterface engine;
  struct Case {
    uint32_t arbId;
    uint32_t frameId;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {{0x0804FC03, 0x08041C03, {0x80}},
                        {0x0904FC05, 0x09041C45, {0, 0, 0, 0x80}},
                        {0x1504FC06, 0x15042846, {0x80}}};
  for (const Case& c : cases) {
    EXPECT_EQ(engine.ClearAllStickyFaults(engine.InsertFoundDevice(c.arbId, 0)), QUOR_DI_OKAY);
    const auto frames = bus.framesWithId(c.frameId);
    ASSERT_EQ(frames.size(), 1u) << std::hex << c.frameId;
    EXPECT_EQ(std::vector<uint8_t>(frames[0].data, frames[0].data + frames[0].dataSize), c.data);
  }
  EXPECT_EQ(engine.ClearAllStickyFaults(engine.InsertFoundDevice(0x0B04FC01, 0)),
            QUOR_DI_FeatureNotSupported);
}

TEST(RawDeviceFrames, CalibrationOfAnImuOnARibbonCableGoesThroughTheController) {
  tessera_test::BusRecorder bus;
  QuorDeviceInterface engine;
  Descriptor& wren = engine.InsertFoundDevice(0x0204FC02, 0)->descriptor;
  std::strcpy(wren.model, "Wren Over Ribbon");
  EXPECT_EQ(engine.enterCalibration(&wren, 0), QUOR_DI_OKAY);
  EXPECT_EQ(bus.framesWithId(0x02042C82).size(), 1u);
  EXPECT_TRUE(bus.framesWithId(0x15042C82).empty());
}

// A device with a static address only, filed by the engine at that address: every command goes
// through the static addressing (request on API class 0x3F index 0, answer on index 1), and a
// number change is confirmed to the old number and answered from the new one.
TEST(StaticallyAddressedDevice, CommandsAndNumberChangeRunEndToEnd) {
  DeviceAttributes kestrel = quor::tessera::sim::DefaultDevice(
      quor::tessera::sim::DeviceFamily::kKestrelKx, 5);
  kestrel.dynamicIds = false;
  SimulatedEngine sim({kestrel});
  const uint32_t base = sim.Robot().baseArbId(0);
  ASSERT_EQ(base, 0x0204FC05u);
  sim.Engine().InsertFoundDevice(base, base);
  Descriptor device = *sim.Engine().GetDescriptor(base);
  ASSERT_TRUE(sim.Robot().editState(0, [](quor::tessera::sim::DeviceState& s) {
    s.motor.stickyFaults = quor::tessera::sim::kFaultUnderVoltage;
  }));

  EXPECT_EQ(sim.Front().saveLightLed(&device, true), 1);
  EXPECT_EQ(sim.Front().factoryDefault(&device), QUOR_DI_OKAY);
  EXPECT_EQ(sim.Front().saveDeviceName(&device, "Static"), QUOR_DI_OKAY);
  quor::tessera::sim::CommandEffects effects(kestrel.family);
  ASSERT_TRUE(sim.Robot().commandEffects(0, &effects));
  EXPECT_EQ(effects.ledBlinks(), 1u);
  EXPECT_EQ(effects.stickyFaultClears(), 1u);
  EXPECT_EQ(effects.factoryDefaults(), 1u);
  DeviceAttributes now;
  ASSERT_TRUE(sim.Robot().attributes(0, &now));
  EXPECT_EQ(now.customName, "Static");
  EXPECT_EQ(now.state.motor.stickyFaults, 0u);

  sim.Recorder().clear();
  ASSERT_EQ(sim.Front().assignDeviceID(&device, 9), QUOR_DI_OKAY);
  EXPECT_EQ(device.arbId, 0x0204FC09u);
  ASSERT_TRUE(sim.Robot().attributes(0, &now));
  EXPECT_EQ(now.deviceNumber, 9);
  const auto isConfirm = [](const CanStreamMessage& f) {
    return f.dataSize >= 3 && f.data[0] == 2 && f.data[1] == 0xBD && f.data[2] == 0x02;
  };
  const auto toOldNumber = sim.Recorder().framesWithId(0x0204FC05);
  EXPECT_TRUE(std::any_of(toOldNumber.begin(), toOldNumber.end(), isConfirm));
  const auto fromNewNumber = sim.Recorder().framesWithId(0x0204FC49);
  ASSERT_FALSE(fromNewNumber.empty());
  EXPECT_EQ(fromNewNumber.back().data[1], 0xFD);
  EXPECT_TRUE(sim.Recorder().framesWithId(0x0204F805).empty()) << "nothing on a dynamic channel";
}

// Devices that kept the dynamic numbers an earlier server gave them ask again only after a
// reset-all: the numbers they end up with come from this server's offers (from 6 on).
TEST(DynamicIdServer, ResetAllAtStartMakesDevicesDropNumbersFromBefore) {
  auto devices = quor::tessera::sim::BuiltInRobot();
  devices.resize(3);
  for (size_t i = 0; i < devices.size(); ++i) devices[i].heldDynamicNumber = 40 + static_cast<int>(i);
  SimulatedEngine sim(devices);
  ASSERT_TRUE(sim.WaitUntilAddressable());
  for (size_t i = 0; i < devices.size(); ++i) {
    const int number = sim.Robot().dynamicNumber(i);
    EXPECT_GE(number, 6) << i;
    EXPECT_LT(number, 6 + static_cast<int>(devices.size())) << i;
    uint32_t dynamicId = 0;
    ASSERT_EQ(sim.Engine().DhcpServer().LookupDynId(sim.Robot().baseArbId(i), dynamicId), 1u);
    EXPECT_EQ(dynamicId & 0x3F, static_cast<uint32_t>(number)) << i;
  }
}

}  // namespace

// A loaded machine can hold the simulation thread back past the engine's 20 ms wait for an
// answer; the tests' engine clock stands still meanwhile, so a device that answers never looks
// silent. Here the robot's device lock is held for 150 ms while a command waits.
TEST_F(DeviceCommands, ASimulationHeldBackStillAnswersInTime) {
  Descriptor kestrel = Listed(kKestrelKx);
  std::promise<void> holding;
  std::thread stall([&] {
    sim_->Robot().editState(kKestrelKx, [&](quor::tessera::sim::DeviceState&) {
      holding.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
  });
  holding.get_future().wait();
  EXPECT_EQ(sim_->Front().saveLightLed(&kestrel, true), 1);
  stall.join();
}
