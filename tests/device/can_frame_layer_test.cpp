#include "device/can_frame_layer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

using tessera_test::Frame;
using tessera_test::WaitUntil;

namespace {

class CanFrameLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<VirtualBus>();
    CanMux_SetBackend(bus_);
    bus_->attach(&device_);
  }
  void TearDown() override {
    CAN_DeInit();
    bus_->detach(&device_);
    CanMux_SetBackend(nullptr);
  }

  // Pulls frames into the receive ring until it holds `count` or the deadline passes.
  bool processUntilCount(uint16_t count) {
    return WaitUntil([&] {
      CAN_Process(0);
      return CAN_RX_GetCount() >= count;
    });
  }

  std::shared_ptr<VirtualBus> bus_;
  tessera_test::RecordingEndpoint device_;
};

TEST_F(CanFrameLayerTest, ReceivedFramesCarryDataLengthIdAndExtendedFlag) {
  CAN_Init(1, 0);
  ASSERT_NE(0u, CAN_GetSessionHandle());
  bus_->inject(Frame(0x0204F905, {0x01, 0xB0, 0xAA}));
  ASSERT_TRUE(processUntilCount(1));
  const _CAN_MessageEvent* received = CAN_RX_Front();
  EXPECT_EQ(0x0204F905u, received->identifier);
  EXPECT_EQ(3, received->length);
  EXPECT_EQ(0xB0, received->data[1]);
  EXPECT_EQ(kCanFlagExtended, received->flags & kCanFlagExtended);
  CAN_RX_Pop();
  EXPECT_EQ(0, CAN_RX_GetCount());
  EXPECT_EQ(0u, CAN_GetErrorBits());
}

TEST_F(CanFrameLayerTest, SixtyFifthFrameIsDroppedWithErrorBitOneAndTheRingStaysIntact) {
  CAN_Init(1, 0);
  for (uint8_t i = 0; i < 64; ++i) bus_->inject(Frame(0x0204F905, {i}));
  ASSERT_TRUE(processUntilCount(64));
  EXPECT_EQ(1, CAN_RX_IsFull());
  bus_->inject(Frame(0x0204F905, {64}));
  ASSERT_TRUE(WaitUntil([] {
    CAN_Process(0);
    return (CAN_GetErrorBits() & kCanErrorRxOverflow) != 0;
  }));
  EXPECT_EQ(64, CAN_RX_GetCount());
  for (uint8_t i = 0; i < 64; ++i) {
    EXPECT_EQ(i, CAN_RX_Front()->data[0]);
    CAN_RX_Pop();
  }
  EXPECT_EQ(0, CAN_RX_GetCount());
  CAN_ReInit();  // the only thing that clears the error bits
  EXPECT_EQ(0u, CAN_GetErrorBits());
}

TEST_F(CanFrameLayerTest, ReceiveRingWrapsAfterSixtyFourPushesAndPops) {
  CAN_Init(1, 0);
  _CAN_MessageEvent message{};
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) {
      message.identifier = static_cast<uint32_t>(round * 100 + i);
      CAN_RX_Push(&message);
    }
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(static_cast<uint32_t>(round * 100 + i), CAN_RX_Front()->identifier);
      CAN_RX_Pop();
    }
  }
  EXPECT_EQ(0, CAN_RX_GetCount());
  // A stray pop on an empty ring and a push on a full one change nothing.
  CAN_RX_Pop();
  EXPECT_EQ(0, CAN_RX_GetCount());
  for (int i = 0; i < 65; ++i) CAN_RX_Push(&message);
  EXPECT_EQ(64, CAN_RX_GetCount());
  EXPECT_NE(0u, CAN_GetErrorBits() & kCanErrorRxOverflow);
}

TEST_F(CanFrameLayerTest, TransmitRingCountsHalfFullAndRemaining) {
  CAN_Init(1, 0);
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(20, CAN_TX_Remaining());
  for (int i = 1; i <= 19; ++i) {
    ASSERT_EQ(1, CANSendMessage(0x100 + i, 8, data));
    EXPECT_EQ(20 - i, CAN_TX_Remaining());
    EXPECT_EQ(i >= 10 ? 1 : 0, CAN_TX_IsHalfFull()) << i << " queued";
  }
  EXPECT_EQ(0, CAN_TX_IsFull());
  EXPECT_EQ(1, CANSendMessage(0x200, 8, data));  // the 20th fits
  EXPECT_EQ(1, CAN_TX_IsFull());
  EXPECT_EQ(0, CANSendMessage(0x201, 8, data));
  EXPECT_EQ(20, CAN_TX_GetCount());

  // A careless writer that skips the full check does not overwrite the oldest frame.
  CAN_TX_GetNext()->identifier = 0xDEAD;
  CAN_TX_Push();
  EXPECT_EQ(0x101u, CAN_TX_Front()->identifier);

  for (int i = 0; i < 20; ++i) CAN_TX_Pop();
  EXPECT_EQ(0, CAN_TX_GetCount());
  // Indices wrapped from 19 to 0: the next frame is at the front again.
  EXPECT_EQ(1, CANSendMessage(0x300, 2, data));
  EXPECT_EQ(0x300u, CAN_TX_Front()->identifier);
}

TEST_F(CanFrameLayerTest, QueuedFrameFieldsAndLengthZeroCopiesNothing) {
  CAN_Init(1, 0);
  const uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(1, CANSendMessage(0x0204F901, 3, data));
  const _CAN_TxMessage* queued = CAN_TX_Front();
  EXPECT_EQ(0x0204F901u, queued->identifier);
  EXPECT_EQ(3, queued->length);
  EXPECT_EQ(kCanFlagExtended, queued->flags & 0xFFFF);
  EXPECT_EQ(0x33, queued->data[2]);
  CAN_TX_Pop();

  _CAN_TxMessage* slot = CAN_TX_GetNext();
  slot->data[0] = 0x77;  // left over from an earlier writer
  ASSERT_EQ(1, CANSendMessage(0x0204F902, 0, data));
  EXPECT_EQ(0, CAN_TX_Front()->length);
  EXPECT_EQ(0x77, CAN_TX_Front()->data[0]);
}

struct Admission {
  uint8_t mode;
  uint32_t deviceNumber;
  uint32_t id;
  bool admitted;
};

bool passes(const Admission& a) {
  const CanFilter filter = CAN_FilterForMode(a.mode, a.deviceNumber);
  return (a.id & filter.mask) == (filter.id & filter.mask);
}

TEST(CanFilterModes, AdmitTheFramesOfTheirDevices) {
  const Admission cases[] = {
      {2, 5, 0x08041005, true},  {2, 5, 0x08041FC5, true},  {2, 5, 0x08041006, false},
      {2, 5, 0x08042005, false}, {1, 0, 0x0204F000, true},  {1, 0, 0x1504F43F, true},
      {1, 0, 0x02041400, false}, {0, 0, 0x02041400, true},  {10, 0, 0x1F04ABCD, true},
      {0, 0, 0x02051400, false}, {3, 7, 0x090414C7, true},  {3, 7, 0x09041507, false},
      {4, 1, 0x02041441, true},  {4, 1, 0x02041002, false}, {5, 4, 0x15043FC4, true},
      {5, 4, 0x15044004, false}, {6, 2, 0x02043F82, true},  {7, 6, 0x03041FC6, true},
      {7, 6, 0x03042006, false}, {8, 3, 0x01040003, true},  {8, 3, 0x02040003, false},
      {9, 5, 0x05043FC5, true},  {9, 5, 0x05044005, false},
  };
  for (const Admission& a : cases) {
    EXPECT_EQ(a.admitted, passes(a)) << "mode " << int(a.mode) << " device " << a.deviceNumber
                                     << " id 0x" << std::hex << a.id;
  }
}

TEST_F(CanFrameLayerTest, SessionFilterOfModeTwoOnTheBus) {
  CAN_Init(2, 5);
  for (uint32_t id : {0x08041006u, 0x08042005u, 0x08041005u, 0x08041FC5u}) {
    bus_->inject(Frame(id, {1}));
  }
  ASSERT_TRUE(processUntilCount(2));
  EXPECT_EQ(0x08041005u, CAN_RX_Front()->identifier);
  CAN_RX_Pop();
  EXPECT_EQ(0x08041FC5u, CAN_RX_Front()->identifier);
}

TEST_F(CanFrameLayerTest, ProcessWithoutSessionSetsErrorBitZero) {
  CAN_Init(1, 0);
  CAN_DeInit();
  EXPECT_EQ(0u, CAN_GetSessionHandle());
  CAN_Process(0);
  EXPECT_NE(0u, CAN_GetErrorBits() & kCanErrorStreamRead);
  EXPECT_EQ(0, CAN_RX_GetCount());
}

TEST_F(CanFrameLayerTest, RxClearDiscardsTheBacklogAndReopens) {
  CAN_Init(1, 0);
  for (uint8_t i = 0; i < 5; ++i) bus_->inject(Frame(0x0204F905, {i}));
  ASSERT_TRUE(processUntilCount(2));
  const uint32_t before = CAN_GetSessionHandle();
  CAN_RX_Clear();
  EXPECT_EQ(0, CAN_RX_GetCount());
  EXPECT_NE(0u, CAN_GetSessionHandle());
  EXPECT_NE(before, CAN_GetSessionHandle());
  bus_->inject(Frame(0x0204F905, {0x99}));
  ASSERT_TRUE(processUntilCount(1));
  EXPECT_EQ(0x99, CAN_RX_Front()->data[0]);
}

TEST_F(CanFrameLayerTest, SendCanMsgPutsTheFrameOnTheBus) {
  const uint8_t data[2] = {0x3E, 0x00};
  EXPECT_EQ(0, SendCanMsg(0x0004F93F, data, 2));
  const auto sent = device_.frames();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(0x0004F93Fu, sent[0].messageID);
  EXPECT_EQ(2, sent[0].dataSize);
  EXPECT_EQ(0x3E, sent[0].data[0]);
}

TEST(CanBusPercent, IsNotMeasured) { EXPECT_EQ(-1.0, TesseraDiag_GetCanBusPercent()); }

}  // namespace

// The engine sleeps in CAN_WaitForFrames while nothing is in flight: a frame for the session
// must end that sleep, one the filter refuses must not.
TEST_F(CanFrameLayerTest, WaitForFramesEndsWhenAFrameForTheSessionComes) {
  CAN_Init(2, 5);
  CAN_WaitForFrames(0);  // forget anything raised before
  auto waiting = std::async(std::launch::async, [] { CAN_WaitForFrames(60000); });
  bus_->inject(Frame(0x08041006, {1}));  // another device
  EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(30)))
      << "ended by a frame the session refuses";
  bus_->inject(Frame(0x08041005, {2}));
  EXPECT_EQ(std::future_status::ready, waiting.wait_for(std::chrono::seconds(10)));
  CAN_Process(0);
  ASSERT_EQ(1, CAN_RX_GetCount());
  EXPECT_EQ(0x08041005u, CAN_RX_Front()->identifier);
}
