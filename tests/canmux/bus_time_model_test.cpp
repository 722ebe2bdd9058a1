// The wire in time: frame lengths with their stuff bits, arbitration among waiting frames,
// back-to-back timing, and a full transmit queue.
#include "canmux/bus_time_model.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "canmux/can_frame_timing.h"
#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

namespace {

using tessera_test::Frame;

// Bit counts worked out bit by bit from the frame layout (SOF, 11 + 18 ID bits with SRR and
// IDE, RTR, r1, r0, DLC, data, CRC-15, then CRC delimiter, ACK, EOF and 3 bits of interframe
// space unstuffed), with a stuff bit after every five equal bits up to the CRC's end.
TEST(CanFrameBits, LengthsIncludeTheStuffBitsOfTheFramesOwnPattern) {
  struct Case {
    uint32_t id;
    std::vector<uint8_t> data;
    uint32_t bits;
  };
  const Case cases[] = {
      {0x00000000, {}, 74},                                                 // 7 stuff bits
      {0x1FFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 149},  // 18
      {0x00000000, {0, 0, 0, 0, 0, 0, 0, 0}, 150},                          // 19
      {0x0204F941, {0x10, 0x05, 0xB1, 0x00, 0x00, 0x80, 0x00, 0xAA}, 143},  // 12
      {0x0204F901, {0x01, 0xBB, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}, 136},  // 5
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CanFrameBits(c.id, c.data.data(), static_cast<uint8_t>(c.data.size())), c.bits)
        << std::hex << c.id;
    EXPECT_EQ(CanFrameTime_us(c.id, c.data.data(), static_cast<uint8_t>(c.data.size())), c.bits);
  }
}

struct Delivered {
  CanStreamMessage frame;
  const void* sender;
  uint32_t deliveredAt_us = 0;  // bus clock, as the frame's stamp
};

class Wire {
 public:
  // Runs `onFirst` on the wire thread when the first frame is delivered.
  explicit Wire(std::function<void(BusTimeModel&)> onFirst)
      : onFirst_(std::move(onFirst)),
        model_([this](const CanStreamMessage& f, const void* s) { delivered(f, s); }) {}
  BusTimeModel& model() { return model_; }
  std::vector<Delivered> frames() {
    std::lock_guard<std::mutex> hold(mutex_);
    return frames_;
  }

 private:
  void delivered(const CanStreamMessage& frame, const void* sender) {
    bool first;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      frames_.push_back({frame, sender, VirtualBus::nowMicros()});
      first = frames_.size() == 1;
    }
    if (first) onFirst_(model_);
  }
  std::function<void(BusTimeModel&)> onFirst_;
  std::mutex mutex_;
  std::vector<Delivered> frames_;
  BusTimeModel model_;
};

// Frames queued while the wire is busy compete when it is free: each node's queue is first in,
// first out, and among the nodes' first frames the lowest ID wins. Each starts when the
// previous one ended; a node with a full queue is refused.
TEST(BusTimeModel, ArbitrationBackToBackTimingAndAFullQueue) {
  const int a = 0, b = 0;  // two nodes
  std::vector<int32_t> results;
  Wire wire([&](BusTimeModel& model) {
    // On the wire thread: nothing can leave the queues until this returns.
    for (uint32_t id : {0x300u, 0x100u, 0x200u}) results.push_back(model.submit(Frame(id, {1}), &a, 3, 0));
    results.push_back(model.submit(Frame(0x050, {1}), &a, 3, 1000));  // full, and no wait here
    results.push_back(model.submit(Frame(0x080, {1, 2}), &b, 3, 0));
  });
  ASSERT_EQ(wire.model().submit(Frame(0x400, {}), &b, 3, 0), 0);
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return wire.frames().size() == 5; }));
  EXPECT_EQ(results, (std::vector<int32_t>{0, 0, 0, BusTimeModel::kQueueFull, 0}));
  const auto frames = wire.frames();
  std::vector<uint32_t> order;
  for (const Delivered& d : frames) order.push_back(d.frame.messageID);
  EXPECT_EQ(order, (std::vector<uint32_t>{0x400, 0x080, 0x300, 0x100, 0x200}));
  EXPECT_EQ(frames[1].sender, &b);
  for (size_t i = 1; i < frames.size(); ++i) {
    const CanStreamMessage& f = frames[i].frame;
    const uint32_t gap = f.timeStamp - frames[i - 1].frame.timeStamp;
    const uint32_t duration = CanFrameTime_us(f.messageID, f.data, f.dataSize);
    // The second frame was queued after the first had ended; the rest waited for the wire.
    if (i == 1) {
      EXPECT_GE(gap, duration);
    } else {
      EXPECT_EQ(gap, duration) << "starts as the previous frame ends";
    }
  }
  uint64_t bits = 0;
  for (const Delivered& d : frames) bits += CanFrameBits(d.frame.messageID, d.frame.data, d.frame.dataSize);
  EXPECT_EQ(wire.model().bitsCarried(), bits);
}

// A burst sent from outside the wire: the first frame goes on the idle wire when sent, the
// others follow it in their queue's order, never overlapping (back to back unless the sender
// was held up between two sends), and none is handed over before its stamped end.
TEST(BusTimeModel, BurstFromASenderFollowsInOrderAndNoFrameArrivesEarly) {
  Wire wire([](BusTimeModel&) {});
  const int node = 0;
  const uint32_t ids[] = {0x500, 0x4FF, 0x4FE, 0x4FD, 0x4FC};
  const uint32_t sent_us = VirtualBus::nowMicros();
  for (uint32_t id : ids) ASSERT_EQ(wire.model().submit(Frame(id, {1, 2, 3}), &node, 8, 0), 0);
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return wire.frames().size() == 5; }));
  const auto frames = wire.frames();
  uint32_t previousEnd_us = sent_us;
  for (size_t i = 0; i < frames.size(); ++i) {
    const CanStreamMessage& f = frames[i].frame;
    EXPECT_EQ(f.messageID, ids[i]) << "a node's queue is first in, first out";
    EXPECT_GE(f.timeStamp - previousEnd_us, CanFrameTime_us(f.messageID, f.data, f.dataSize));
    EXPECT_GE(static_cast<int32_t>(frames[i].deliveredAt_us - f.timeStamp), 0)
        << "handed over before its last bit was on the wire";
    previousEnd_us = f.timeStamp;
  }
}

// In wire time the virtual bus carries the server's frames to the endpoints and theirs to the
// server, and a send to the server's full queue fails as on a SocketCAN interface.
TEST(VirtualBusInWireTime, FramesTravelBothWaysAndAFullServerQueueFails) {
  VirtualBus bus(VirtualBus::Timing::kWireTime);
  std::vector<int32_t> sent;
  struct Flooder : VirtualBus::Endpoint {
    VirtualBus* bus;
    std::vector<int32_t>* sent;
    std::atomic<int> seen{0};
    void onBusFrame(const CanStreamMessage&) override {
      if (seen++ != 0) return;
      const uint8_t data[1] = {0};
      for (size_t i = 0; i <= VirtualBus::kServerTransmitQueueFrames; ++i)
        sent->push_back(bus->transmit(0x100 + static_cast<uint32_t>(i), data, 1));
    }
  } flooder;
  flooder.bus = &bus;
  flooder.sent = &sent;
  bus.attach(&flooder);
  const uint8_t data[2] = {1, 2};
  ASSERT_EQ(bus.transmit(0x0204F901, data, 2), 0);
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return flooder.seen == 1 + static_cast<int>(VirtualBus::kServerTransmitQueueFrames); }));
  ASSERT_EQ(sent.size(), VirtualBus::kServerTransmitQueueFrames + 1);
  EXPECT_EQ(sent.back(), kCanMuxStatusTransmitFailed) << "queue full, told at once";
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 0),
            static_cast<long>(VirtualBus::kServerTransmitQueueFrames));

  bus.inject(Frame(0x0204F941, {0x01, 0xFB}), &flooder);
  CanStreamMessage received[4];
  uint32_t count = 0;
  ASSERT_TRUE(tessera_test::WaitUntil([&] {
    bus.receive(received, 4, &count);
    return count == 1;
  }));
  EXPECT_EQ(received[0].messageID, 0x0204F941u);
  bus.detach(&flooder);
}

}  // namespace
