#include "device/iso15765.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <numeric>
#include <vector>

#include "canmux/can_mux.h"
#include "device/iso15_adapter.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTxId = 0x0204F901;
constexpr uint32_t kRxId = 0x0204F941;
constexpr uint32_t kRxId2 = 0x0204F93F;
constexpr uint8_t kSeparation_ms = 1;

Bytes counting(size_t size, uint8_t first = 0) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

_CAN_MessageEvent rxFrame(uint32_t id, std::initializer_list<uint8_t> bytes) {
  _CAN_MessageEvent frame{};
  frame.identifier = id;
  frame.length = 8;
  frame.flags = kCanFlagExtended;
  std::memset(frame.data, 0xAA, 8);
  std::copy(bytes.begin(), bytes.end(), frame.data);
  return frame;
}

class Iso15765Test : public ::testing::Test {
 protected:
  void SetUp() override {
    CAN_Init(1, 0);
    Iso15Adap_Setup(&iso_, rx_, sizeof rx_, kRxId2, kRxId, kTxId, kSeparation_ms);
  }
  void TearDown() override { CAN_DeInit(); }

  // Runs processing steps until the transmit ring stops growing; returns and removes every
  // queued frame's bytes, checking the fields every frame of this instance has.
  std::vector<Bytes> sentFrames() {
    for (int i = 0; i < 100 && !CAN_TX_IsFull(); ++i) Iso15765_Process(&iso_);
    std::vector<Bytes> frames;
    while (CAN_TX_GetCount() > 0) {
      const _CAN_TxMessage* frame = CAN_TX_Front();
      EXPECT_EQ(kTxId, frame->identifier);
      EXPECT_EQ(8, frame->length);
      EXPECT_EQ(kCanFlagExtended, frame->flags & kCanFlagExtended);
      frames.emplace_back(frame->data, frame->data + 8);
      CAN_TX_Pop();
    }
    return frames;
  }

  void feed(const _CAN_MessageEvent& frame) { Iso15765_ProcessMsg(&iso_, &frame); }
  void flowControl() { feed(rxFrame(kRxId, {0x30, 0x00, 0x05})); }
  void ticks(int count) {
    for (int i = 0; i < count; ++i) Iso15Adap_Process1Ms(&iso_);
  }

  _Iso15765_t iso_{};
  uint8_t rx_[500] = {};
};

TEST_F(Iso15765Test, SetupEnablesAndMakesEveryIdExtended) {
  EXPECT_EQ(0xFu, iso_.options);
  _Iso15765_t disabled{};
  Iso15765_Init(&disabled, rx_, 10, 0, 0, 0, 0x8, 0);
  const uint8_t byte = 1;
  EXPECT_EQ(ISO15765_ERR_DISABLED, Iso15765_Transmit(&disabled, &byte, 1, 0));
}

TEST_F(Iso15765Test, SixByteMessageIsOnePaddedSingleFrame) {
  const Bytes message = counting(6, 0xB0);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 6, 0));
  EXPECT_EQ(ISO15765_ERR_BUSY, Iso15765_GetTransmitStatus(&iso_));
  const auto frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ((Bytes{0x06, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xAA}), frames[0]);
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));
}

TEST_F(Iso15765Test, OneAndTwoByteHelpersSendSingleFrames) {
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_TxTwoBytes(&iso_, 0x3E, 0x00));
  auto frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ((Bytes{0x02, 0x3E, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}), frames[0]);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_TxOneByte(&iso_, 0xBB));
  frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ((Bytes{0x01, 0xBB, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}), frames[0]);
}

TEST_F(Iso15765Test, SevenByteMessageUsesFirstFrameThenOneConsecutiveAfterFlowControl) {
  const Bytes message = counting(7, 0xB0);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 7, 0));
  auto frames = sentFrames();
  ASSERT_EQ(1u, frames.size());  // nothing more until the peer's flow control
  EXPECT_EQ((Bytes{0x10, 0x07, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}), frames[0]);

  flowControl();
  frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ((Bytes{0x21, 0xB6, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}), frames[0]);
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));
  EXPECT_EQ(0x0030, iso_.peerFlowControl);  // recorded, not honoured
  EXPECT_EQ(5, iso_.peerSeparationTime);
}

TEST_F(Iso15765Test, TwentyByteMessageEndsAfterSecondConsecutiveFrame) {
  const Bytes message = counting(20, 1);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 20, 0));
  sentFrames();
  flowControl();
  const auto frames = sentFrames();
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ((Bytes{0x21, 7, 8, 9, 10, 11, 12, 13}), frames[0]);
  EXPECT_EQ((Bytes{0x22, 14, 15, 16, 17, 18, 19, 20}), frames[1]);
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));
}

TEST_F(Iso15765Test, SixteenthConsecutiveFrameCarriesSequenceZero) {
  const Bytes message = counting(6 + 7 * 17);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(),
                                          static_cast<uint16_t>(message.size()), 0));
  const auto first = sentFrames();
  EXPECT_EQ((Bytes{0x10, 125, 0, 1, 2, 3, 4, 5}), first[0]);
  flowControl();
  auto frames = sentFrames();  // the ring holds 20: all 17 fit
  ASSERT_EQ(17u, frames.size());
  EXPECT_EQ(0x2F, frames[14][0]);
  EXPECT_EQ(0x20, frames[15][0]);
  EXPECT_EQ(0x21, frames[16][0]);
  EXPECT_EQ(message[6 + 7 * 15], frames[15][1]);
}

TEST_F(Iso15765Test, FullTransmitRingDelaysFramesWithoutLosingThem) {
  const uint8_t filler[8] = {};
  while (!CAN_TX_IsFull()) CANSendMessage(0x1, 8, filler);
  const Bytes message = counting(3);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 3, 0));
  Iso15765_Process(&iso_);
  EXPECT_EQ(ISO15765_TX_SEND_SINGLE, iso_.txState);  // waits for room
  CAN_TX_Pop();
  Iso15765_Process(&iso_);
  EXPECT_EQ(ISO15765_TX_IDLE, iso_.txState);
}

TEST_F(Iso15765Test, TransmitWhileWaitingForFlowControlIsBusyUntilTimeOut) {
  const Bytes message = counting(30);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 30, 0));
  sentFrames();
  EXPECT_EQ(ISO15765_ERR_BUSY, Iso15Adap_Tx(&iso_, message.data(), 3, 0));
  ticks(kIsoTimeoutTicks - 1);
  EXPECT_EQ(ISO15765_ERR_BUSY, Iso15765_GetTransmitStatus(&iso_));
  ticks(1);
  EXPECT_EQ(ISO15765_ERR_TIMEOUT, Iso15765_GetTransmitStatus(&iso_));
  EXPECT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 3, 0));
  EXPECT_EQ(1u, sentFrames().size());
}

TEST_F(Iso15765Test, MessagesBeyondTwelveBitLengthAreRefused) {
  static uint8_t big[4096];
  EXPECT_EQ(ISO15765_ERR_TOO_LONG, Iso15Adap_Tx(&iso_, big, 4096, 0));
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));
  EXPECT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, big, 4095, 0));
  EXPECT_EQ((Bytes{0x1F, 0xFF, 0, 0, 0, 0, 0, 0}), sentFrames()[0]);
  Iso15765_Init(&iso_, rx_, sizeof rx_, kRxId2, kRxId, kTxId, 7, 0);
  EXPECT_EQ(ISO15765_ERR_NO_DATA, Iso15Adap_Tx(&iso_, nullptr, 3, 0));
}

TEST_F(Iso15765Test, SingleFrameYieldsMessageWithNodeId) {
  feed(rxFrame(kRxId, {0x03, 0xF5, 0x01, 0x02}));
  ASSERT_EQ(1, Iso15765_HasMessage(&iso_));
  EXPECT_EQ(3, Iso15765_GetMessageSize(&iso_));
  EXPECT_EQ(kRxId, Iso15765_GetMessageNodeID(&iso_));
  EXPECT_EQ(kCanFlagExtended, Iso15765_GetMessageOptions(&iso_));
  EXPECT_EQ((Bytes{0xF5, 0x01, 0x02}), Bytes(rx_, rx_ + 3));

  // A waiting message blocks reception until popped.
  feed(rxFrame(kRxId, {0x01, 0x77}));
  EXPECT_EQ(3, Iso15765_GetMessageSize(&iso_));
  uint32_t node = 0;
  uint8_t* bytes = nullptr;
  uint16_t size = 0;
  ASSERT_EQ(1, ReceiveIso(&iso_, &node, &bytes, &size));
  EXPECT_EQ(rx_, bytes);
  PopReceiveIso(&iso_);
  EXPECT_EQ(0, ReceiveIso(&iso_, &node, &bytes, &size));
  feed(rxFrame(kRxId2, {0x01, 0x77}));
  EXPECT_EQ(1, Iso15765_HasMessage(&iso_));
  EXPECT_EQ(kRxId2, Iso15765_GetMessageNodeID(&iso_));
}

TEST_F(Iso15765Test, MultiFrameReceptionSendsFlowControlAndIgnoresSequence) {
  const Bytes message = counting(20, 0x40);
  feed(rxFrame(kRxId, {0x10, 20, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45}));
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));
  const auto control = sentFrames();
  ASSERT_EQ(1u, control.size());
  EXPECT_EQ((Bytes{0x30, 0x00, kSeparation_ms, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}), control[0]);
  feed(rxFrame(kRxId, {0x21, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C}));
  feed(rxFrame(kRxId, {0x27, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53}));  // wrong number
  ASSERT_EQ(1, Iso15765_HasMessage(&iso_));
  EXPECT_EQ(message, Bytes(rx_, rx_ + Iso15765_GetMessageSize(&iso_)));
}

TEST_F(Iso15765Test, FirstFrameLargerThanBufferIsIgnoredWithoutFlowControl) {
  feed(rxFrame(kRxId, {0x12, 0x58, 1, 2, 3, 4, 5, 6}));  // 600 bytes into 500
  EXPECT_TRUE(sentFrames().empty());
  EXPECT_EQ(ISO15765_RX_IDLE, iso_.rxState);
  feed(rxFrame(kRxId, {0x21, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));
  feed(rxFrame(kRxId, {0x02, 0xAB, 0xCD}));  // still able to receive
  EXPECT_EQ(1, Iso15765_HasMessage(&iso_));
}

TEST_F(Iso15765Test, UnfinishedMessageIsDroppedAfterTheTimeOut) {
  feed(rxFrame(kRxId, {0x10, 20, 1, 2, 3, 4, 5, 6}));
  sentFrames();
  feed(rxFrame(kRxId, {0x21, 1, 2, 3, 4, 5, 6, 7}));
  ticks(kIsoTimeoutTicks);  // consecutive frames do not restart the timer
  EXPECT_EQ(ISO15765_RX_IDLE, iso_.rxState);
  feed(rxFrame(kRxId, {0x22, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));
}

TEST_F(Iso15765Test, BroadcastAcceptsUnrelatedIdsOnlyWhileSet) {
  const _CAN_MessageEvent unrelated = rxFrame(0x0204FC45, {0x01, 0x7E});
  feed(unrelated);
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));

  const uint8_t request[2] = {0x3E, 0x00};
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, request, 2, 1));
  feed(unrelated);
  ASSERT_EQ(1, Iso15765_HasMessage(&iso_));
  EXPECT_EQ(0x0204FC45u, Iso15765_GetMessageNodeID(&iso_));
  const _CAN_MessageEvent noBroadcastBits = rxFrame(0x02000000, {0x01, 0x00});
  EXPECT_EQ(0, Iso15765_IdPasses(&iso_, &noBroadcastBits));

  sentFrames();
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, request, 2, 0));  // each send sets it anew
  EXPECT_EQ(0, Iso15765_IdPasses(&iso_, &unrelated));
}

TEST_F(Iso15765Test, FramesWithTheWrongFormatOrEmptyAreIgnored) {
  _CAN_MessageEvent standard = rxFrame(kRxId, {0x01, 0x11});
  standard.flags = 0;  // an 11-bit frame on the right ID is someone else's
  feed(standard);
  _CAN_MessageEvent empty = rxFrame(kRxId, {0x01, 0x11});
  empty.length = 0;
  feed(empty);
  feed(rxFrame(kRxId, {0x30, 0, 0}));  // a stray flow control starts nothing
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));
  EXPECT_EQ(ISO15765_TX_IDLE, iso_.txState);
}

}  // namespace

// Quiet means only a received frame can give a processing step work: the engine then sleeps
// until frames come instead of stepping every few milliseconds.
TEST_F(Iso15765Test, QuietOnlyWhileNothingIsInFlight) {
  EXPECT_EQ(1, Iso15765_IsQuiet(&iso_));
  const Bytes message = counting(7);
  Iso15Adap_Tx(&iso_, message.data(), 7, 0);
  EXPECT_EQ(0, Iso15765_IsQuiet(&iso_)) << "first frame to send";
  sentFrames();
  EXPECT_EQ(0, Iso15765_IsQuiet(&iso_)) << "waiting for flow control";
  flowControl();
  EXPECT_EQ(0, Iso15765_IsQuiet(&iso_)) << "consecutive frame to send";
  sentFrames();
  EXPECT_EQ(1, Iso15765_IsQuiet(&iso_)) << "sent";

  Iso15Adap_Tx(&iso_, message.data(), 7, 0);
  sentFrames();
  ticks(kIsoTimeoutTicks);
  EXPECT_EQ(1, Iso15765_IsQuiet(&iso_)) << "flow control timed out";

  feed(rxFrame(kRxId, {0x10, 8, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(0, Iso15765_IsQuiet(&iso_)) << "flow control to send";
  sentFrames();
  EXPECT_EQ(0, Iso15765_IsQuiet(&iso_)) << "receiving, time-out running";
  feed(rxFrame(kRxId, {0x21, 7, 8}));
  EXPECT_EQ(1, Iso15765_IsQuiet(&iso_)) << "message complete";
}

// A paced sender puts out one consecutive frame per release, so its caller can keep the
// separation time the peer asked for (flow-control byte 2, read as ISO 15765-2 defines it).
TEST_F(Iso15765Test, PacedSendingWaitsForEachRelease) {
  const Bytes message = counting(20);
  iso_.options |= ISO15765_OPT_PACED;
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), 20, 0));
  ASSERT_EQ(1u, sentFrames().size());  // the first frame
  flowControl();
  EXPECT_EQ(5000u, Iso15765_PeerSeparationTime_us(&iso_));
  std::vector<Bytes> frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(0x21, frames[0][0]);
  EXPECT_EQ(1u, iso_.txPaceHold);
  Iso15765_ReleaseNextFrame(&iso_);
  frames = sentFrames();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(0x22, frames[0][0]);
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));  // 6 + 7 + 7 bytes: done

  struct Case {
    uint8_t code;
    uint32_t separation_us;
  };
  for (const Case& c : {Case{0x00, 0}, Case{0x7F, 127000}, Case{0x80, 127000}, Case{0xF0, 127000},
                        Case{0xF1, 100}, Case{0xF9, 900}, Case{0xFA, 127000}}) {
    iso_.peerSeparationTime = c.code;
    EXPECT_EQ(c.separation_us, Iso15765_PeerSeparationTime_us(&iso_)) << int(c.code);
  }
}
