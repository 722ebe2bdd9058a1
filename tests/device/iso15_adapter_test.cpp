// The transport bound to the frame layer, exchanging messages over the multiplexer and the
// virtual bus with a peer written independently from the frame layouts.
#include "device/iso15_adapter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/iso_tp_test_peer.h"

using namespace std::chrono;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kServerTxId = 0x0204F901;  // both IDs pass filter mode 1
constexpr uint32_t kServerRxId = 0x0204F941;
constexpr uint8_t kSeparation_ms = 0;
constexpr size_t kPeerWindowFrames = 32;  // well inside the 64-frame session queue

Bytes pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

class Iso15AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<VirtualBus>();
    CanMux_SetBackend(bus_);
    peer_ = std::make_unique<IsoTpTestPeer>(*bus_, kServerTxId, kServerRxId);
    CAN_Init(1, 0);
    Iso15Adap_Setup(&iso_, rx_.data(), static_cast<uint16_t>(rx_.size()), 0, kServerRxId,
                    kServerTxId, kSeparation_ms);
  }
  void TearDown() override {
    CAN_DeInit();
    peer_.reset();
    CanMux_SetBackend(nullptr);
  }

  static void onMessage(uint32_t nodeId, const uint8_t* message, uint16_t size, void* user) {
    auto* self = static_cast<Iso15AdapterTest*>(user);
    self->messages_.emplace_back(message, message + size);
    self->nodeIds_.push_back(nodeId);
  }

  // Drives processing steps and 1 ms ticks the way the engine does, letting the peer send as
  // the transport takes its bytes, until `done` holds or the deadline passes. Without ticks the
  // transport's time-outs never fire (they have tests of their own).
  template <typename Done>
  bool drive(Done done, bool ticks = true, milliseconds deadline = milliseconds(5000)) {
    const auto until = steady_clock::now() + deadline;
    auto tickReference = steady_clock::now();
    while (!done()) {
      Iso15Adap_Process(&iso_, 0, &Iso15AdapterTest::onMessage, this);
      if (ticks && steady_clock::now() - tickReference > milliseconds(1)) {
        Iso15Adap_Process1Ms(&iso_);
        tickReference += milliseconds(1);
      }
      peer_->sendStep(bytesTaken(), kPeerWindowFrames);
      if (steady_clock::now() > until) return false;
      std::this_thread::yield();
    }
    return true;
  }

  // Bytes of the arriving message the transport has taken; all of them once delivered.
  size_t bytesTaken() const {
    if (!messages_.empty()) return SIZE_MAX / 2;
    return iso_.rxState == ISO15765_RX_CONSECUTIVE ? iso_.rxPosition : 0;
  }

  std::shared_ptr<VirtualBus> bus_;
  std::unique_ptr<IsoTpTestPeer> peer_;
  _Iso15765_t iso_{};
  std::vector<uint8_t> rx_ = std::vector<uint8_t>(4096);
  std::vector<Bytes> messages_;
  std::vector<uint32_t> nodeIds_;
};

TEST_F(Iso15AdapterTest, LargestMessageReachesThePeerIntact) {
  const Bytes message = pattern(kIsoMaxMessageLength);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_Tx(&iso_, message.data(), kIsoMaxMessageLength, 0));
  ASSERT_TRUE(drive([&] { return Iso15765_GetTransmitStatus(&iso_) != ISO15765_ERR_BUSY; }));
  EXPECT_EQ(ISO15765_ERR_OK, Iso15765_GetTransmitStatus(&iso_));

  const auto received = peer_->waitForMessage(milliseconds(3000));
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(message, *received);
  EXPECT_EQ(0, peer_->sequenceErrors());
  EXPECT_EQ(0, peer_->malformedFrames());
  const auto frames = peer_->framesSeen();
  const size_t consecutiveBytes = kIsoMaxMessageLength - 6;  // 4089 = 584 * 7 + 1
  ASSERT_EQ(1u + (consecutiveBytes + 6) / 7, frames.size());
  // The last consecutive frame carries 1 byte and 0xAA padding.
  const CanStreamMessage& last = frames.back();
  EXPECT_EQ(message.back(), last.data[1]);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(0xAA, last.data[i]);
}

TEST_F(Iso15AdapterTest, MultiKilobyteMessageFromThePeerArrivesWhole) {
  const Bytes message = pattern(3000);
  peer_->beginSend(message);
  // 429 frames must arrive within the 100-tick receive time-out; on a loaded machine the
  // multiplexer's receive thread can fall that far behind, so this exchange runs without ticks.
  ASSERT_TRUE(drive([&] { return !messages_.empty(); }, false));
  ASSERT_EQ(1u, messages_.size());
  EXPECT_EQ(message, messages_[0]);
  EXPECT_EQ(kServerRxId, nodeIds_[0]);

  // The server's flow control, as the peer saw it.
  const auto frames = peer_->framesSeen();
  ASSERT_EQ(1u, frames.size());
  const uint8_t expected[8] = {0x30, 0x00, kSeparation_ms, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(0, std::memcmp(expected, frames[0].data, 8));
}

TEST_F(Iso15AdapterTest, RequestAndAnswerBothWays) {
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_TxTwoBytes(&iso_, 0xF0, 0x00));
  ASSERT_TRUE(drive([&] { return Iso15765_GetTransmitStatus(&iso_) == ISO15765_ERR_OK; }));
  const auto request = peer_->waitForMessage(milliseconds(3000));
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ((Bytes{0xF0, 0x00}), *request);

  const Bytes answer = pattern(97);
  peer_->beginSend(answer);
  ASSERT_TRUE(drive([&] { return !messages_.empty(); }));
  EXPECT_EQ(answer, messages_[0]);
  EXPECT_EQ(0, Iso15765_HasMessage(&iso_));  // the adapter popped it after the callback
}

// A bus whose transmit fails a given number of times before it accepts frames.
class RefusingBus : public CanBackend {
 public:
  explicit RefusingBus(int refusals) : refusals_(refusals) {}
  int32_t transmit(uint32_t, const uint8_t*, uint8_t) override {
    ++attempts_;
    if (refusals_ > 0) {
      --refusals_;
      return kCanMuxStatusTransmitFailed;
    }
    ++accepted_;
    return 0;
  }
  int32_t receive(CanStreamMessage*, uint32_t, uint32_t* count) override {
    *count = 0;
    return 0;
  }
  const char* interfaceName() const override { return "refusing"; }
  std::atomic<int> refusals_, attempts_{0}, accepted_{0};
};

TEST_F(Iso15AdapterTest, RefusedFrameIsRetriedWithinTheStep) {
  auto refusing = std::make_shared<RefusingBus>(3);
  CanMux_SetBackend(refusing);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_TxOneByte(&iso_, 0xBB));
  Iso15Adap_Process(&iso_, 0, nullptr, nullptr);
  EXPECT_EQ(4, refusing->attempts_.load());
  EXPECT_EQ(1, refusing->accepted_.load());
  EXPECT_EQ(0, CAN_TX_GetCount());
}

TEST_F(Iso15AdapterTest, FrameStaysQueuedAfterTenRefusals) {
  auto refusing = std::make_shared<RefusingBus>(1000);
  CanMux_SetBackend(refusing);
  ASSERT_EQ(ISO15765_ERR_OK, Iso15Adap_TxOneByte(&iso_, 0xBB));
  Iso15Adap_Process(&iso_, 0, nullptr, nullptr);
  EXPECT_EQ(kIsoSendAttempts, refusing->attempts_.load());
  EXPECT_EQ(1, CAN_TX_GetCount());
}

}  // namespace
