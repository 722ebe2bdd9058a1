#include "canmux/virtual_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

using tessera_test::Frame;

namespace {

std::vector<CanStreamMessage> drainServerSide(VirtualBus& bus) {
  std::vector<CanStreamMessage> received(64);
  uint32_t count = 0;
  bus.receive(received.data(), 64, &count);
  received.resize(count);
  return received;
}

TEST(VirtualBus, ServerFramesReachEveryEndpointButNotTheServer) {
  VirtualBus bus;
  tessera_test::RecordingEndpoint a, b;
  bus.attach(&a);
  bus.attach(&b);
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(0, bus.transmit(0x0204F901, data, 3));

  ASSERT_EQ(1u, a.count());
  ASSERT_EQ(1u, b.count());
  EXPECT_EQ(0x0204F901u, a.frames()[0].messageID);
  EXPECT_EQ(3, a.frames()[0].dataSize);
  EXPECT_EQ(1u, bus.framesFromServer());
  EXPECT_TRUE(drainServerSide(bus).empty());
}

TEST(VirtualBus, InjectedFramesReachServerAndOtherEndpointsNotTheSender) {
  VirtualBus bus;
  tessera_test::RecordingEndpoint sender, other;
  bus.attach(&sender);
  bus.attach(&other);
  CanStreamMessage stamped = Frame(0x10, {4});
  stamped.timeStamp = 1234;
  bus.inject(Frame(0x11, {5}), &sender);
  bus.inject(stamped, &sender);

  EXPECT_EQ(0u, sender.count());
  ASSERT_EQ(2u, other.count());
  const auto atServer = drainServerSide(bus);
  ASSERT_EQ(2u, atServer.size());
  EXPECT_EQ(0x11u, atServer[0].messageID);
  EXPECT_NE(0u, atServer[0].timeStamp);  // a zero time stamp is filled in from the bus clock
  EXPECT_EQ(1234u, atServer[1].timeStamp);
}

// Answers every frame with ID 0x100 by injecting 0x200 from inside the callback.
class Responder : public VirtualBus::Endpoint {
 public:
  explicit Responder(VirtualBus& bus) : bus_(bus) {}
  void onBusFrame(const CanStreamMessage& frame) override {
    if (frame.messageID == 0x100) bus_.inject(Frame(0x200, {frame.data[0]}), this);
  }

 private:
  VirtualBus& bus_;
};

TEST(VirtualBus, EndpointMayInjectFromItsCallback) {
  VirtualBus bus;
  Responder responder(bus);
  tessera_test::RecordingEndpoint watcher;
  bus.attach(&responder);
  bus.attach(&watcher);
  const uint8_t data[1] = {42};
  bus.transmit(0x100, data, 1);  // would deadlock if callbacks ran under a plain lock

  const auto seen = watcher.frames();
  ASSERT_EQ(2u, seen.size());  // the request, then the answer: same order for everyone
  EXPECT_EQ(0x100u, seen[0].messageID);
  EXPECT_EQ(0x200u, seen[1].messageID);
  const auto atServer = drainServerSide(bus);
  ASSERT_EQ(1u, atServer.size());
  EXPECT_EQ(42, atServer[0].data[0]);
}

// Detaches itself on the first frame it sees.
class OneShot : public VirtualBus::Endpoint {
 public:
  explicit OneShot(VirtualBus& bus) : bus_(bus) {}
  void onBusFrame(const CanStreamMessage&) override {
    ++calls;
    bus_.detach(this);
  }
  int calls = 0;

 private:
  VirtualBus& bus_;
};

TEST(VirtualBus, DetachFromInsideTheCallbackEndsTheCalls) {
  VirtualBus bus;
  OneShot once(bus);
  bus.attach(&once);
  bus.inject(Frame(1, {}));
  bus.inject(Frame(2, {}));
  EXPECT_EQ(1, once.calls);
}

// Counts calls and flags any call that arrives after it was told it is detached.
class Guarded : public VirtualBus::Endpoint {
 public:
  void onBusFrame(const CanStreamMessage&) override {
    if (detached.load()) lateCalls.fetch_add(1);
    calls.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(50));  // widen the race window
  }
  std::atomic<bool> detached{false};
  std::atomic<int> calls{0};
  std::atomic<int> lateCalls{0};
};

TEST(VirtualBus, DetachFromAnotherThreadWaitsForARunningCallback) {
  VirtualBus bus;
  Guarded endpoint;
  bus.attach(&endpoint);
  std::atomic<bool> stop{false};
  std::thread injector([&] {
    while (!stop.load()) bus.inject(Frame(0x7, {1}));
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return endpoint.calls.load() > 20; }));
  bus.detach(&endpoint);
  endpoint.detached.store(true);
  const int callsAtDetach = endpoint.calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop.store(true);
  injector.join();
  EXPECT_EQ(0, endpoint.lateCalls.load());
  EXPECT_EQ(callsAtDetach, endpoint.calls.load());
}

TEST(VirtualBus, ConcurrentInjectorsLoseNothingAndEndpointsAreNeverCalledConcurrently) {
  VirtualBus bus;
  class Exclusive : public VirtualBus::Endpoint {
   public:
    void onBusFrame(const CanStreamMessage&) override {
      if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
      calls.fetch_add(1);
      inside.fetch_sub(1);
    }
    std::atomic<int> inside{0}, overlaps{0}, calls{0};
  } endpoint;
  bus.attach(&endpoint);
  constexpr int kPerThread = 2000;
  std::thread first([&] { for (int i = 0; i < kPerThread; ++i) bus.inject(Frame(1, {})); });
  std::thread second([&] {
    const uint8_t data[1] = {0};
    for (int i = 0; i < kPerThread; ++i) bus.transmit(2, data, 1);
  });
  first.join();
  second.join();
  EXPECT_EQ(2 * kPerThread, endpoint.calls.load());
  EXPECT_EQ(0, endpoint.overlaps.load());
  EXPECT_EQ(0u, bus.framesDropped());
}

TEST(VirtualBus, ServerQueueIsBoundedAndCountsDrops) {
  VirtualBus bus;
  for (size_t i = 0; i < VirtualBus::kServerQueueCapacity + 3; ++i) bus.inject(Frame(1, {}));
  EXPECT_EQ(3u, bus.framesDropped());
}

}  // namespace
