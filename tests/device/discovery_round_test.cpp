// Whole discovery rounds against simulated devices: the moving poll window, the stale pass and
// what the listing then shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

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

// Two rounds: every one of the six devices listed, and the poll window back at its start.
void ListAllSix(SimulatedEngine& sim) {
  ASSERT_TRUE(sim.WaitUntilAddressable());
  for (int round = 0; round < 2; ++round) sim.Round();
  ASSERT_EQ(sim.Listed().size(), 6u);
  ASSERT_EQ(sim.Engine().GetPollWindowStart(), 0);
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
  ASSERT_NO_FATAL_FAILURE(ListAllSix(sim));

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

// Information answers are long (fourteen frames) and the first to be lost on a noisy bus; a
// device that still answers its status request is there and keeps its listing. One that
// answers nothing is stale, as above.
TEST(DiscoveryRound, DeviceWhoseInformationAnswerIsLostStaysListed) {
  SimulatedEngine sim(SixDevices());
  ASSERT_NO_FATAL_FAILURE(ListAllSix(sim));

  const uint32_t kestrel = sim.Robot().baseArbId(2);  // polled in the first window
  const std::string firmware = sim.Engine().GetDescriptor(kestrel)->currentVers;
  ASSERT_TRUE(sim.Robot().setUnansweredRequests(2, {0xB0}));
  sim.Round();
  EXPECT_EQ(sim.PolledSinceLastCall().count(kestrel), 1u);
  EXPECT_EQ(std::string(sim.Engine().GetDescriptor(kestrel)->currentVers), firmware);
  EXPECT_EQ(sim.Listed().size(), 6u);

  ASSERT_TRUE(sim.Robot().setUnansweredRequests(2, {0xB0, 0xBB}));
  sim.Round();
  sim.Round();
  EXPECT_EQ(std::string(sim.Engine().GetDescriptor(kestrel)->currentVers),
            firmware + " (Device is not responding, this is stale)");
  EXPECT_EQ(sim.Listed().size(), 5u);

  // Back, but its information answer lost again: its status answer is enough to list it with
  // what it reported before it went silent.
  ASSERT_TRUE(sim.Robot().setUnansweredRequests(2, {0xB0}));
  sim.Round();
  sim.Round();
  EXPECT_EQ(std::string(sim.Engine().GetDescriptor(kestrel)->currentVers), firmware);
  EXPECT_EQ(sim.Listed().size(), 6u);
}

// Another device's arrival makes the dynamic-ID server rebuild its tables, which then lack the
// device unplugged before: it must still leave the list rather than show as it was.
TEST(DiscoveryRound, UnpluggedDeviceLeavesTheListAfterTablesAreRebuilt) {
  SimulatedEngine sim(SixDevices());
  ASSERT_NO_FATAL_FAILURE(ListAllSix(sim));

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

// The tables a rebuild leaves may lack a device that is there: its report, or the get-all
// that asks for the reports, was lost on the bus, and nothing rebuilds them until some device
// asks for an ID again. The round asks the devices to report again before it takes one for gone.
TEST(DiscoveryRound, DeviceWhoseReportWasLostStaysListed) {
  SimulatedEngine sim(SixDevices());
  ASSERT_NO_FATAL_FAILURE(ListAllSix(sim));

  sim.Engine().DhcpServer().ClearMaps();  // as a rebuild whose get-all no device heard
  ASSERT_EQ(sim.Engine().DhcpServer().GetState(), CanDhcpServer::kSettled);
  sim.PolledSinceLastCall();
  sim.Round();
  EXPECT_EQ(sim.PolledSinceLastCall().size(), 4u);
  EXPECT_EQ(sim.Listed().size(), 6u);
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

// One frame on the bus as the engine's requests and the devices' answers on dynamic IDs show
// it: API class 0x3E, index 4 from the engine, 5 from a device.
struct Exchanged {
  bool fromEngine;
  uint32_t dynamicNumber;
  std::vector<uint8_t> data;
};

std::vector<Exchanged> DynamicTraffic(const std::vector<CanStreamMessage>& frames) {
  std::vector<Exchanged> traffic;
  for (const CanStreamMessage& frame : frames) {
    const uint32_t apiClass = (frame.messageID >> 10) & 0x3F;
    const uint32_t apiIndex = (frame.messageID >> 6) & 0xF;
    if (apiClass != 0x3E || (apiIndex != 4 && apiIndex != 5)) continue;
    traffic.push_back({apiIndex == 4, frame.messageID & 0x3F,
                       std::vector<uint8_t>(frame.data, frame.data + frame.dataSize)});
  }
  return traffic;
}

// The requests (single frames) the engine sent, in order, as "number:code" texts; a request
// repeated at once (a retry on a loaded machine) counts once.
std::vector<std::string> Requests(const std::vector<Exchanged>& traffic) {
  std::vector<std::string> requests;
  for (const Exchanged& frame : traffic) {
    if (!frame.fromEngine || frame.data.size() < 2 || (frame.data[0] >> 4) != 0) continue;
    std::string request =
        std::to_string(frame.dynamicNumber) + ":" + std::to_string(frame.data[1]);
    if (requests.empty() || requests.back() != request) requests.push_back(std::move(request));
  }
  return requests;
}

// No request starts while a device's multi-frame answer is still coming: from its first frame
// to its last, the engine sends only flow control.
void ExpectNoRequestInsideAnAnswer(const std::vector<Exchanged>& traffic) {
  for (size_t i = 0; i < traffic.size(); ++i) {
    const Exchanged& first = traffic[i];
    if (first.fromEngine || first.data.size() < 2 || (first.data[0] >> 4) != 1) continue;
    size_t left = (((first.data[0] & 0x0Fu) << 8) | first.data[1]) - 6;
    for (size_t j = i + 1; j < traffic.size() && left > 0; ++j) {
      const Exchanged& next = traffic[j];
      if (next.fromEngine) {
        EXPECT_EQ(next.data.at(0) >> 4, 3) << "a request inside the answer begun at frame " << i;
      } else if (next.dynamicNumber == first.dynamicNumber && (next.data.at(0) >> 4) == 2) {
        left -= std::min<size_t>(left, 7);
      }
    }
  }
}

// A command that comes while a round polls waits for the exchange in progress, not for the
// round: it goes out between two exchanges, and the round then polls on as it would have.
TEST(DiscoveryRound, CommandTakesItsTurnBetweenTwoExchangesOfTheRound) {
  SimulatedEngine sim(BuiltInRobot());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  // Every device known and listed; only the two rounds compared below must lie two apart.
  ASSERT_EQ(sim.RoundsUntilListed(8), 8u);
  const auto listed = sim.Listed();
  const auto kx = std::find_if(listed.begin(), listed.end(), [](const auto& d) {
    return std::string(d.model) == "Kestrel KX";
  });
  ASSERT_NE(kx, listed.end());
  const CANDeviceInterface1::DeviceDescriptor target = *kx;

  sim.Recorder().clear();
  sim.Round();  // the window of the next rounds' turn, undisturbed
  const std::vector<std::string> undisturbed = Requests(DynamicTraffic(sim.Recorder().frames()));
  sim.Round();
  sim.Recorder().clear();

  std::thread round([&] { sim.Round(); });
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return !Requests(DynamicTraffic(sim.Recorder().frames())).empty(); },
      std::chrono::seconds(10)));
  const int blinked = sim.Front().saveLightLed(&target, true);
  round.join();

  EXPECT_TRUE(blinked == 0 || blinked == 1) << blinked;
  quor::tessera::sim::CommandEffects effects(quor::tessera::sim::DeviceFamily::kKestrelKx);
  ASSERT_TRUE(sim.Robot().commandEffects(2, &effects));
  EXPECT_EQ(effects.ledBlinks(), 1u);

  const std::vector<Exchanged> traffic = DynamicTraffic(sim.Recorder().frames());
  ExpectNoRequestInsideAnAnswer(traffic);
  std::vector<std::string> requests = Requests(traffic);
  const std::string kxNumber = std::to_string(target.dynamicId & 0x3F);
  const auto blink = std::find(requests.begin(), requests.end(), kxNumber + ":189");  // BD
  ASSERT_NE(blink, requests.end());
  ASSERT_NE(blink, requests.begin());
  // The presence check before it and the sticky-fault clear after it are the command's too.
  EXPECT_EQ(*(blink - 1), kxNumber + ":187");
  ASSERT_NE(blink + 1, requests.end());
  EXPECT_EQ(*(blink + 1), kxNumber + ":197");
  EXPECT_NE(blink + 2, requests.end()) << "the command waited for the whole round";
  requests.erase(blink - 1, blink + 2);
  EXPECT_EQ(requests, undisturbed);
}

}  // namespace
