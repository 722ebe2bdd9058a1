// The dynamic-ID server: its tables, its offers and its state machine.
#include "device/can_dhcp_server.h"

#include <gtest/gtest.h>

#include "tests/support/bus_recorder.h"
#include "tests/support/can_frames.h"
#include "tests/support/wait_until.h"

namespace {

using tessera_test::BusRecorder;
using tessera_test::Frame;

// The server's frames: device type 0, API class 0x3E, number 63; offer index 1, confirm 3,
// reset-all 6, get-all 7.
constexpr uint32_t kOfferId = 0x0004F87F;
constexpr uint32_t kConfirmId = 0x0004F8FF;
constexpr uint32_t kResetAllId = 0x0004F9BF;
constexpr uint32_t kGetAllId = 0x0004F9FF;

// Steps the server 1 ms apart until `done` holds (2 s at most).
template <typename Done>
bool StepUntil(CanDhcpServer& server, Done done) {
  return tessera_test::WaitUntil(
      [&] {
        server.Process20Ms();
        return done();
      },
      std::chrono::seconds(2), std::chrono::milliseconds(1));
}

// A report from dynamic number `dynamicNumber` standing for device number `deviceNumber`.
CanStreamMessage Report(uint32_t deviceType, uint8_t dynamicNumber, uint8_t deviceNumber) {
  return Frame((deviceType << 24) | 0x0004F9C0 | dynamicNumber, {0, 0, 0, 0, 0, 0, 0, deviceNumber});
}

void Feed(CanDhcpServer& server, const CanStreamMessage& frame) {
  bool offerSent = false;
  server.HandleFrame(frame, offerSent);
}

// Puts `count` frames on the bus and returns once the multiplexer has handed every one of them
// to its sessions: a marker frame sent last is seen by a session of its own.
void InjectAndWaitDelivered(BusRecorder& bus, uint32_t id, int count) {
  constexpr uint32_t kMarkerId = 0x1F3F0000;  // no device's, no session of the server's
  uint32_t marker = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&marker, kMarkerId, 0x1FFFFFFF, 1,
                                                           &status);
  ASSERT_EQ(status, 0);
  for (int i = 0; i < count; ++i) bus.Inject(id, {0x20, 0, 0, 0, 0, 0, 0, 0});
  bus.Inject(kMarkerId, {});
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] {
        CanStreamMessage seen{};
        uint32_t read = 0;
        FRC_NetworkCommunication_CANSessionMux_readStreamSession(marker, &seen, 1, &read, &status);
        return read == 1;
      },
      std::chrono::seconds(2), std::chrono::milliseconds(1)));
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(marker);
}

TEST(DhcpTables, ReportMapsDynamicIdToDeviceId) {
  CanDhcpServer server;
  Feed(server, Frame(0x0204F9C5, {0, 0, 0, 0, 0, 0, 0, 0x07}));
  uint32_t dynamicId = 0;
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 1u);
  EXPECT_EQ(dynamicId, 0x0204F805u);
  uint32_t deviceId = 0;
  ASSERT_TRUE(server.LookupDevId(0x0204F805, deviceId));
  EXPECT_EQ(deviceId, 0x0204FC07u);
  EXPECT_EQ(server.GetDynamicIdCount(0x0204FC07), 1u);
}

TEST(DhcpTables, ReportsOnApiClass3FCountToo) {
  CanDhcpServer server;
  Feed(server, Frame(0x0204FDC5, {0, 0, 0, 0, 0, 0, 0, 0x07}));  // class 0x3F, index 7
  uint32_t dynamicId = 0;
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 1u);
  EXPECT_EQ(dynamicId, 0x0204F805u);
}

TEST(DhcpTables, NewestReportWins) {
  CanDhcpServer server;
  Feed(server, Report(2, 5, 7));
  Feed(server, Report(2, 9, 7));
  uint32_t dynamicId = 0;
  EXPECT_EQ(server.GetDynamicIdCount(0x0204FC07), 2u);
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 2u);
  EXPECT_EQ(dynamicId, 0x0204F809u);
  Feed(server, Report(2, 5, 7));  // moves 5 to the newest position, no duplicate
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 2u);
  EXPECT_EQ(dynamicId, 0x0204F805u);
}

TEST(DhcpTables, AlternateChannelLookups) {
  CanDhcpServer server;
  Feed(server, Report(2, 5, 7));
  uint32_t dynamicId = 0;
  EXPECT_EQ(server.LookupDynId(0x0204F407, dynamicId), 1u);  // class 0x3D form of the device
  EXPECT_EQ(dynamicId, 0x0204F005u);                         // class 0x3C form of dynamic 5
  EXPECT_EQ(server.GetDynamicIdCount(0x0204F407), 1u);
  uint32_t deviceId = 0;
  ASSERT_TRUE(server.LookupDevId(0x0204F005, deviceId));
  EXPECT_EQ(deviceId, 0x0204F407u);
}

TEST(DhcpTables, UnknownIdsLeaveTheOutputAlone) {
  CanDhcpServer server;
  uint32_t out = 0x1234;
  EXPECT_EQ(server.LookupDynId(0x0204FC07, out), 0u);
  EXPECT_FALSE(server.LookupDevId(0x0204F805, out));
  EXPECT_EQ(out, 0x1234u);
}

TEST(DhcpTables, ShortReportIsIgnored) {
  CanDhcpServer server;
  Feed(server, Frame(0x0204F9C5, {0, 0, 0}));
  EXPECT_EQ(server.GetDynamicIdCount(0x0204FC00), 0u);
  uint32_t out = 0;
  EXPECT_FALSE(server.LookupDevId(0x0204F805, out));
}

TEST(DhcpTables, IdChangeMovesTheDynamicId) {
  CanDhcpServer server;
  Feed(server, Report(2, 5, 7));
  server.IdChangeEvent(0x0204FC07, 0x0204F805, 0x0204FC09);
  uint32_t out = 0;
  EXPECT_EQ(server.GetDynamicIdCount(0x0204FC07), 0u);
  EXPECT_EQ(server.LookupDynId(0x0204FC09, out), 1u);
  EXPECT_EQ(out, 0x0204F805u);
  ASSERT_TRUE(server.LookupDevId(0x0204F805, out));
  EXPECT_EQ(out, 0x0204FC09u);
}

TEST(DhcpOffers, RequestGetsOneOfferPerStep) {
  BusRecorder bus;
  CanDhcpServer server;
  bool offerSent = false;
  server.HandleFrame(Frame(0x0204F801, {}), offerSent);
  server.HandleFrame(Frame(0x0504F840, {}), offerSent);
  EXPECT_TRUE(offerSent);
  const auto offers = bus.framesWithId(kOfferId);
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].dataSize, 8);
  EXPECT_EQ(offers[0].data[6], 0);
  EXPECT_EQ(offers[0].data[7], 6);
}

TEST(DhcpOffers, AcceptOfTheOfferIsConfirmedAndOffersWrapAfter62) {
  BusRecorder bus;
  CanDhcpServer server;
  ASSERT_EQ(server.GetNextOffer(), 6u);
  // Someone else's number is ignored.
  Feed(server, Frame(0x0204F880, {1, 2, 3, 4, 5, 6, 0, 7}));
  EXPECT_EQ(server.GetNextOffer(), 6u);
  EXPECT_TRUE(bus.framesWithId(kConfirmId).empty());
  for (uint32_t offer = 6; offer <= 62; ++offer) {
    ASSERT_EQ(server.GetNextOffer(), offer);
    Feed(server, Frame(0x0204F8C3, {1, 2, 3, 4, 5, 6, 0, static_cast<uint8_t>(offer)}));
  }
  EXPECT_EQ(server.GetNextOffer(), 0u);
  const auto confirms = bus.framesWithId(kConfirmId);
  ASSERT_EQ(confirms.size(), 57u);
  EXPECT_EQ(confirms[0].data[0], 1);  // the accept frame's bytes, echoed
  EXPECT_EQ(confirms[0].data[7], 6);
  EXPECT_EQ(confirms.back().data[7], 62);
}

TEST(DhcpStateMachine, QuietBusSettlesAfter90Steps) {
  BusRecorder bus;
  CanDhcpServer server;
  EXPECT_EQ(server.GetState(), CanDhcpServer::kStart);
  server.Process20Ms();
  EXPECT_EQ(server.GetState(), CanDhcpServer::kOpenSession);
  EXPECT_EQ(bus.framesWithId(kResetAllId).size(), 1u);
  server.Process20Ms();
  EXPECT_EQ(server.GetState(), CanDhcpServer::kWaitForQuiet);
  int step = 2;
  while (server.GetState() == CanDhcpServer::kWaitForQuiet && step < 200) {
    server.Process20Ms();
    ++step;
  }
  EXPECT_EQ(step, 63);  // more than 60 quiet steps
  EXPECT_EQ(server.GetState(), CanDhcpServer::kGetAll);
  EXPECT_TRUE(bus.framesWithId(kGetAllId).empty());
  server.Process20Ms();
  ++step;
  EXPECT_EQ(server.GetState(), CanDhcpServer::kSettling);
  EXPECT_EQ(bus.framesWithId(kGetAllId).size(), 1u);
  while (server.GetState() == CanDhcpServer::kSettling && step < 200) {
    server.Process20Ms();
    ++step;
  }
  EXPECT_EQ(step, 90);  // about 1.8 s of 20 ms steps
  EXPECT_EQ(server.GetState(), CanDhcpServer::kSettled);
  EXPECT_EQ(server.IsSettled(), 1);
}

TEST(DhcpStateMachine, SettledServerRebuildsAfterARequestAndServesFlags) {
  BusRecorder bus;
  CanDhcpServer server;
  for (int i = 0; i < 90; ++i) server.Process20Ms();
  ASSERT_EQ(server.GetState(), CanDhcpServer::kSettled);
  bus.Inject(0x0204F9C5, {0, 0, 0, 0, 0, 0, 0, 7});  // device 7 reports dynamic ID 5
  uint32_t dynamicId = 0;
  ASSERT_TRUE(StepUntil(server, [&] { return server.LookupDynId(0x0204FC07, dynamicId) == 1; }));

  server.ReRequestDynList();
  server.ReleaseAll();
  bus.clear();
  server.Process20Ms();
  EXPECT_EQ(bus.framesWithId(kGetAllId).size(), 1u);
  EXPECT_EQ(bus.framesWithId(kResetAllId).size(), 1u);
  EXPECT_EQ(server.GetState(), CanDhcpServer::kWaitForQuiet) << "the reset made the tables stale";
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 0u) << "the IDs it knew are gone";
  server.Process20Ms();
  EXPECT_EQ(bus.framesWithId(kGetAllId).size(), 1u);  // flags were cleared

  // A device asks for an ID through the session: an offer goes out and the tables are rebuilt
  // once the bus is quiet again.
  bus.Inject(0x0204F800, {});
  ASSERT_TRUE(StepUntil(server, [&] { return !bus.framesWithId(kOfferId).empty(); }));
  server.Process20Ms();
  EXPECT_EQ(server.GetState(), CanDhcpServer::kWaitForQuiet);
}

// A release asked for in the step that sends the machine back to wait for quiet still goes out
// then: the waiting states never serve the flags.
TEST(DhcpStateMachine, ReleaseIsServedInTheStepThatLeavesSettled) {
  BusRecorder bus;
  CanDhcpServer server;
  for (int i = 0; i < 90; ++i) server.Process20Ms();
  ASSERT_EQ(server.GetState(), CanDhcpServer::kSettled);
  bus.Inject(0x0204F800, {});
  ASSERT_TRUE(StepUntil(server, [&] { return !bus.framesWithId(kOfferId).empty(); }));
  ASSERT_EQ(server.GetState(), CanDhcpServer::kSettled);
  server.ReleaseAll();
  bus.clear();
  server.Process20Ms();
  EXPECT_EQ(server.GetState(), CanDhcpServer::kWaitForQuiet);
  EXPECT_EQ(bus.framesWithId(kResetAllId).size(), 1u);
}

TEST(DhcpStateMachine, ReportsArriveThroughTheSession) {
  BusRecorder bus;
  CanDhcpServer server;
  server.Process20Ms();
  server.Process20Ms();  // session open
  bus.Inject(0x0204F9C5, {0, 0, 0, 0, 0, 0, 0, 7});
  ASSERT_TRUE(StepUntil(server, [&] { return server.GetDynamicIdCount(0x0204FC07) == 1; }));
}

TEST(DhcpStateMachine, RestartBeginsWithTheResetFrame) {
  BusRecorder bus;
  CanDhcpServer server;
  for (int i = 0; i < 90; ++i) server.Process20Ms();
  ASSERT_EQ(server.GetState(), CanDhcpServer::kSettled);
  server.Restart();
  bus.clear();
  server.Process20Ms();
  EXPECT_EQ(bus.framesWithId(kResetAllId).size(), 1u);
  EXPECT_EQ(server.GetState(), CanDhcpServer::kOpenSession);
  server.Process20Ms();
  bus.Inject(0x0204F9C5, {0, 0, 0, 0, 0, 0, 0, 7});
  ASSERT_TRUE(StepUntil(server, [&] { return server.GetDynamicIdCount(0x0204FC07) == 1; }));
}

// The session's filter (API class 0x3E, any index) also passes every request and answer
// exchanged with a dynamically addressed device, so one long answer can fill it between two
// steps. Frames were lost, not the session: every device keeps its dynamic ID (a reset-all
// would cut them all off the bus for a while) and the devices are asked to report again in
// case a report was among the frames lost.
TEST(DhcpStateMachine, FullSessionKeepsEveryDynamicIdAndAsksForReportsAgain) {
  BusRecorder bus;
  CanDhcpServer server;
  for (int i = 0; i < 90; ++i) server.Process20Ms();
  ASSERT_EQ(server.GetState(), CanDhcpServer::kSettled);
  bus.Inject(0x0204F9C5, {0, 0, 0, 0, 0, 0, 0, 7});
  ASSERT_TRUE(StepUntil(server, [&] { return server.GetDynamicIdCount(0x0204FC07) == 1; }));

  // Consecutive frames of an answer from dynamic number 5 (API index 5): one more than fits.
  InjectAndWaitDelivered(bus, 0x0204F945, CanDhcpServer::kReadBatch + 1);
  bus.clear();
  for (int step = 0; step <= static_cast<int>(CanDhcpServer::kFailedSteps) + 5; ++step)
    server.Process20Ms();
  EXPECT_TRUE(bus.framesWithId(kResetAllId).empty());
  EXPECT_EQ(bus.framesWithId(kGetAllId).size(), 1u);
  EXPECT_EQ(server.GetState(), CanDhcpServer::kSettled);
  uint32_t dynamicId = 0;
  EXPECT_EQ(server.LookupDynId(0x0204FC07, dynamicId), 1u);
  EXPECT_EQ(dynamicId, 0x0204F805u);

  // The session still works: a new report arrives through it.
  bus.Inject(0x0204F9C9, {0, 0, 0, 0, 0, 0, 0, 8});
  EXPECT_TRUE(StepUntil(server, [&] { return server.GetDynamicIdCount(0x0204FC08) == 1; }));
}

}  // namespace
