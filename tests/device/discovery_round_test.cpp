// Whole discovery rounds against simulated devices: the moving poll window, the stale pass and
// what the listing then shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/builtin_robot.h"
#include "simulated_engine.h"

namespace {

using engine_test::SimulatedEngine;
using quor::tessera::sim::BuiltInRobot;
using quor::tessera::sim::DeviceAttributes;

std::vector<DeviceAttributes> SixDevices() {
  std::vector<DeviceAttributes> devices = BuiltInRobot();
  devices.resize(6);
  return devices;
}

std::vector<uint32_t> TableKeys(QuorDeviceInterface& engine) {
  std::vector<uint32_t> keys;
  for (const auto& entry : engine.Devices()) keys.push_back(entry.first);
  return keys;
}

TEST(DiscoveryRound, PollWindowMovesByFourAndWraps) {
  SimulatedEngine sim(SixDevices());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  sim.PolledSinceLastCall();

  // Newcomers outside the window have told nothing about themselves yet, so the stale pass
  // drops them again until their turn comes.
  EXPECT_EQ(sim.Round(), 4);
  const std::vector<uint32_t> keys = TableKeys(sim.Engine());
  ASSERT_EQ(keys.size(), 4u);
  std::set<uint32_t> firstFour(keys.begin(), keys.end());
  EXPECT_EQ(sim.PolledSinceLastCall(), firstFour);
  EXPECT_EQ(sim.Engine().GetPollWindowStart(), 4);

  EXPECT_EQ(sim.Round(), 6);
  const std::set<uint32_t> lastTwo = sim.PolledSinceLastCall();
  EXPECT_EQ(lastTwo.size(), 2u);
  for (uint32_t id : lastTwo) EXPECT_EQ(firstFour.count(id), 0u);
  EXPECT_EQ(sim.Engine().GetPollWindowStart(), 0);

  EXPECT_EQ(sim.Round(), 6);
  EXPECT_EQ(sim.PolledSinceLastCall(), firstFour);
  EXPECT_EQ(sim.Listed().size(), 6u);
}

TEST(DiscoveryRound, SilentDeviceTurnsStaleAndLeavesTheList) {
  SimulatedEngine sim(SixDevices());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  for (int round = 0; round < 2; ++round) sim.Round();
  ASSERT_EQ(sim.Listed().size(), 6u);
  ASSERT_EQ(sim.Engine().GetPollWindowStart(), 0);

  const uint32_t kestrel = sim.Robot().baseArbId(2);  // Kestrel KX 1, polled in the first window
  const std::string firmware = sim.Engine().GetDescriptor(kestrel)->currentVers;
  ASSERT_TRUE(sim.Robot().unplug(2));
  sim.Round();  // window 0..3 polls it: three information requests go unanswered
  const auto* stale = sim.Engine().GetDescriptor(kestrel);
  ASSERT_NE(stale, nullptr) << "a device with a known model stays in the table";
  EXPECT_EQ(std::string(stale->currentVers),
            firmware + " (Device is not responding, this is stale)");
  const auto listed = sim.Listed();
  EXPECT_EQ(listed.size(), 5u);
  EXPECT_TRUE(std::none_of(listed.begin(), listed.end(),
                           [&](const auto& d) { return d.arbId == kestrel; }));
}

// Another device's arrival makes the dynamic-ID server rebuild its tables, which then lack the
// device unplugged before: it must still leave the list rather than show as it was.
TEST(DiscoveryRound, UnpluggedDeviceLeavesTheListAfterTablesAreRebuilt) {
  SimulatedEngine sim(SixDevices());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  for (int round = 0; round < 2; ++round) sim.Round();
  ASSERT_EQ(sim.Listed().size(), 6u);

  const uint32_t kestrel = sim.Robot().baseArbId(2);
  ASSERT_TRUE(sim.Robot().unplug(2));
  sim.Robot().addDevice(BuiltInRobot()[7]);  // the CANtap asks for a dynamic ID
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return sim.Engine().DhcpServer().GetDynamicIdCount(kestrel) == 0; },
      std::chrono::seconds(5), std::chrono::milliseconds(1)));
  ASSERT_TRUE(sim.WaitUntilAddressable());
  for (int round = 0; round < 3; ++round) sim.Round();

  const auto listed = sim.Listed();
  EXPECT_EQ(listed.size(), 6u);
  EXPECT_TRUE(std::none_of(listed.begin(), listed.end(),
                           [&](const auto& d) { return d.arbId == kestrel; }));
  ASSERT_NE(sim.Engine().GetDescriptor(kestrel), nullptr);
  EXPECT_NE(std::string(sim.Engine().GetDescriptor(kestrel)->currentVers).find("stale"),
            std::string::npos);
}

TEST(DiscoveryRound, DeviceNeverIdentifiedLeavesTheTable) {
  SimulatedEngine sim(SixDevices());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  sim.Round();
  const uint32_t phantom = 0x0204FC30;  // no such device answers
  sim.Engine().InsertFoundDevice(phantom, 0);
  const uint32_t foundBefore = sim.Engine().GetDescriptor(phantom)->foundIndex;
  sim.Round();
  EXPECT_EQ(sim.Engine().GetDevice(phantom), nullptr);
  sim.Engine().InsertFoundDevice(phantom, 0);
  EXPECT_GT(sim.Engine().GetDescriptor(phantom)->foundIndex, foundBefore) << "indices never repeat";
}

TEST(DiscoveryRound, CancelledRoundReturnsMinus800AndClosesTheLayer) {
  SimulatedEngine sim(SixDevices());
  quor::tessera::runtime::Event cancel(true);
  EXPECT_EQ(sim.Engine().getNumberOfDynamicDevices(cancel), -800);
  EXPECT_EQ(sim.Engine().GetState(), QuorDeviceInterface::kIdle);
  EXPECT_EQ(CAN_GetSessionHandle(), 0u);
}

TEST(DiscoveryRound, RoundsWalkTimingBackAfterCranking) {
  SimulatedEngine sim(SixDevices());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  sim.Engine().CrankMaxPerformance();
  EXPECT_EQ(sim.Engine().GetIsoSeparationTime(), 0);
  EXPECT_EQ(sim.Engine().GetMinIdleBusTimeUs(), 0);
  sim.Round();
  EXPECT_EQ(sim.Engine().GetIsoSeparationTime(), 1);
  EXPECT_EQ(sim.Engine().GetMinIdleBusTimeUs(), 600);
  for (int round = 0; round < 5; ++round) sim.Round();
  EXPECT_EQ(sim.Engine().GetIsoSeparationTime(), 5);
  EXPECT_EQ(sim.Engine().GetMinIdleBusTimeUs(), 3000);
}

}  // namespace
