#include "sim/dynamic_id_client.h"

#include <gtest/gtest.h>

#include "sim/sim_wire.h"
#include "tests/sim/recording_sink.h"

namespace quor::tessera::sim {
namespace {

using testing::Frame;
using testing::RecordingSink;

// The frame patterns the server's dynamic-ID side listens for.
constexpr uint32_t kRequestMask = 0xFFFF80, kRequestPattern = 0x04F800;
constexpr uint32_t kAcceptMask = 0xFFFF80, kAcceptPattern = 0x04F880;
constexpr uint32_t kReportMask = 0xFFFBC0, kReportPattern = 0x04F9C0;

constexpr uint8_t kKestrelType = 2;
constexpr uint8_t kDeviceNumber = 7;

CanStreamMessage Offer(uint8_t number) {
  return Frame(wire::kOfferId, {0, 0, 0, 0, 0, 0, 0, number});
}

CanStreamMessage EchoOf(const CanStreamMessage& accept) {
  CanStreamMessage confirm = accept;
  confirm.messageID = wire::kConfirmId;
  return confirm;
}

class DynamicIdClientTest : public ::testing::Test {
 protected:
  DynamicIdClientTest() { client.setIdentity(kKestrelType, kDeviceNumber); }

  // Runs the whole exchange for `number`; returns the report frame.
  CanStreamMessage obtain(uint8_t number, uint64_t now_us = 0) {
    client.onFrame(Offer(number), now_us);
    const CanStreamMessage accept = sink.take().at(0);
    client.onFrame(EchoOf(accept), now_us);
    return sink.take().at(0);
  }

  RecordingSink sink;
  DynamicIdClient client{sink, 0x11223344};
};

TEST_F(DynamicIdClientTest, IsQuietUntilPoweredUp) {
  client.poll(10 * DynamicIdClient::kAnswerWait_us);
  EXPECT_FALSE(client.onFrame(Offer(6), 0));
  EXPECT_TRUE(sink.frames.empty());
}

TEST_F(DynamicIdClientTest, PowerUpAsksForANumber) {
  client.powerUp(0);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].messageID & kRequestMask, kRequestPattern);
  EXPECT_EQ(sink.frames[0].messageID >> 24, kKestrelType);
  EXPECT_EQ(client.state(), DynamicIdClient::State::kAsking);
}

TEST_F(DynamicIdClientTest, AcceptEchoAndReportFollowTheFramePatterns) {
  client.powerUp(0);
  sink.take();
  client.onFrame(Offer(6), 0);
  ASSERT_EQ(sink.frames.size(), 1u);
  const CanStreamMessage accept = sink.take()[0];
  EXPECT_EQ(accept.messageID & kAcceptMask, kAcceptPattern);
  EXPECT_EQ(accept.dataSize, 8);
  EXPECT_EQ(accept.data[6], 0);
  EXPECT_EQ(accept.data[7], 6);
  EXPECT_EQ(client.dynamicNumber(), DynamicIdClient::kNoDynamicNumber) << "not before confirm";

  client.onFrame(EchoOf(accept), 0);
  EXPECT_EQ(client.dynamicNumber(), 6);
  ASSERT_EQ(sink.frames.size(), 1u);
  const CanStreamMessage report = sink.frames[0];
  EXPECT_EQ(report.messageID & kReportMask, kReportPattern);
  EXPECT_EQ(report.data[7] & 0x3F, kDeviceNumber);
  // What the server derives from the report: the device ID and the dynamic ID.
  const uint32_t deviceId =
      (report.data[7] & 0x3Fu) | (report.messageID & 0x1FFB0000u) | 0x0004FC00u;
  const uint32_t dynamicId = (report.messageID & 0x1FFB003Fu) | 0x0004F800u;
  EXPECT_EQ(deviceId, 0x0204FC07u);
  EXPECT_EQ(dynamicId, 0x0204F806u);
}

TEST_F(DynamicIdClientTest, ReportsAgainOnGetAllAndAsksAgainOnResetAll) {
  client.powerUp(0);
  sink.take();
  obtain(9);
  EXPECT_TRUE(client.onFrame(Frame(wire::kGetAllId, {}), 1000));
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.take()[0].messageID & 0x3F, 9u);
  EXPECT_EQ(client.reportsSent(), 2u);

  EXPECT_TRUE(client.onFrame(Frame(wire::kResetAllId, {}), 2000));
  EXPECT_EQ(client.dynamicNumber(), DynamicIdClient::kNoDynamicNumber);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].messageID & kRequestMask, kRequestPattern);
}

TEST_F(DynamicIdClientTest, AsksAgainWhenNoOfferOrConfirmComes) {
  client.powerUp(0);
  client.poll(DynamicIdClient::kAnswerWait_us - 1);
  EXPECT_EQ(client.requestsSent(), 1u);
  client.poll(DynamicIdClient::kAnswerWait_us);
  EXPECT_EQ(client.requestsSent(), 2u);
  // Accepted but never confirmed.
  client.onFrame(Offer(6), DynamicIdClient::kAnswerWait_us);
  client.poll(2 * DynamicIdClient::kAnswerWait_us);
  EXPECT_EQ(client.requestsSent(), 3u);
  EXPECT_EQ(client.state(), DynamicIdClient::State::kAsking);
}

TEST_F(DynamicIdClientTest, OnlyTheDeviceWhoseAcceptIsEchoedTakesTheNumber) {
  RecordingSink otherSink;
  DynamicIdClient other(otherSink, 0x55667788);
  other.setIdentity(kKestrelType, kDeviceNumber);  // same type and number: a duplicate
  client.powerUp(0);
  other.powerUp(0);
  client.onFrame(Offer(6), 0);
  other.onFrame(Offer(6), 0);
  const CanStreamMessage winnersAccept = otherSink.frames.back();
  sink.take();
  client.onFrame(EchoOf(winnersAccept), 0);
  other.onFrame(EchoOf(winnersAccept), 0);
  EXPECT_EQ(other.dynamicNumber(), 6);
  EXPECT_EQ(client.dynamicNumber(), DynamicIdClient::kNoDynamicNumber);
  ASSERT_EQ(sink.frames.size(), 1u) << "the loser asks again at once";
  EXPECT_EQ(sink.frames[0].messageID & kRequestMask, kRequestPattern);
}

TEST_F(DynamicIdClientTest, IgnoresOffersWhileHoldingANumberAndShortFrames) {
  client.powerUp(0);
  sink.take();
  obtain(6);
  client.onFrame(Offer(7), 0);
  EXPECT_TRUE(sink.frames.empty());
  EXPECT_EQ(client.dynamicNumber(), 6);

  client.onFrame(Frame(wire::kResetAllId, {}), 0);
  sink.take();
  client.onFrame(Frame(wire::kOfferId, {0, 6}), 0);  // too short to carry a number
  EXPECT_TRUE(sink.frames.empty());
}

TEST_F(DynamicIdClientTest, PowerDownForgetsTheNumberAndStaysQuiet) {
  client.powerUp(0);
  obtain(6);
  client.powerDown();
  sink.take();
  EXPECT_EQ(client.dynamicNumber(), DynamicIdClient::kNoDynamicNumber);
  client.onFrame(Frame(wire::kGetAllId, {}), 0);
  client.poll(10 * DynamicIdClient::kAnswerWait_us);
  EXPECT_TRUE(sink.frames.empty());
}

// A device still holding the number an earlier server gave it asks for nothing on its own: only
// a reset-all makes it drop the number and ask again.
TEST_F(DynamicIdClientTest, HoldingANumberFromBeforeItAsksOnlyAfterAResetAll) {
  client.powerUpHolding(40);
  client.poll(10 * DynamicIdClient::kAnswerWait_us);
  EXPECT_TRUE(sink.frames.empty());
  EXPECT_EQ(client.dynamicNumber(), 40);
  client.onFrame(Frame(wire::kGetAllId, {}), 0);
  const CanStreamMessage report = sink.take().at(0);
  EXPECT_EQ(report.messageID & kReportMask, kReportPattern);
  EXPECT_EQ(report.messageID & 0x3F, 40u);
  client.onFrame(Frame(wire::kResetAllId, {}), 0);
  EXPECT_EQ(client.dynamicNumber(), DynamicIdClient::kNoDynamicNumber);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].messageID & kRequestMask, kRequestPattern);
}

}  // namespace
}  // namespace quor::tessera::sim
