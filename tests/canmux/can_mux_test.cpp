#include "canmux/can_mux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canmux/virtual_bus.h"
#include "runtime/diag_print.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

using tessera_test::Frame;
using tessera_test::WaitUntil;

namespace {

class CanMuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<VirtualBus>();
    CanMux_SetBackend(bus_);
    bus_->attach(&device_);
  }
  void TearDown() override {
    for (uint32_t handle : opened_) FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle);
    bus_->detach(&device_);
    CanMux_SetBackend(nullptr);
  }

  uint32_t open(uint32_t id, uint32_t mask, uint32_t capacity) {
    uint32_t handle = 0;
    int32_t status = 1;
    EXPECT_EQ(0, FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, id, mask,
                                                                          capacity, &status));
    EXPECT_EQ(0, status);
    opened_.push_back(handle);
    return handle;
  }

  // Reads until `expected` messages have come or the deadline passes.
  std::vector<CanStreamMessage> readAll(uint32_t handle, size_t expected) {
    std::vector<CanStreamMessage> all;
    WaitUntil([&] {
      CanStreamMessage batch[64];
      uint32_t read = 0;
      int32_t status = 0;
      FRC_NetworkCommunication_CANSessionMux_readStreamSession(handle, batch, 64, &read, &status);
      all.insert(all.end(), batch, batch + read);
      return all.size() >= expected;
    });
    return all;
  }

  int32_t sendPeriodic(uint32_t id, uint8_t value, int32_t period_ms) {
    int32_t status = 1;
    const uint8_t data[1] = {value};
    FRC_NetworkCommunication_CANSessionMux_sendMessage(id, data, 1, period_ms, &status);
    return status;
  }

  std::shared_ptr<VirtualBus> bus_;
  tessera_test::RecordingEndpoint device_;
  std::vector<uint32_t> opened_;
};

TEST_F(CanMuxTest, TwoMatchingSessionsEachGetACopy) {
  const uint32_t wide = open(0x00040000, 0x00FF0000, 64);
  const uint32_t narrow = open(0x0204F905, 0x1FFFFFFF, 64);
  bus_->inject(Frame(0x0204F905, {1, 2, 3}));

  const auto wideFrames = readAll(wide, 1);
  const auto narrowFrames = readAll(narrow, 1);
  ASSERT_EQ(1u, wideFrames.size());
  ASSERT_EQ(1u, narrowFrames.size());
  for (const auto& received : {wideFrames[0], narrowFrames[0]}) {
    EXPECT_EQ(0x0204F905u, received.messageID);
    EXPECT_EQ(3, received.dataSize);
    EXPECT_EQ(3, received.data[2]);
    EXPECT_NE(0u, received.timeStamp);
  }
}

TEST_F(CanMuxTest, DeviceTypeFilterAdmitsEveryDeviceNumberOfThatFrame) {
  const uint32_t session = open(0x02041400, 0x1FFFFFC0, 64);
  const uint32_t all = open(0, 0, 64);
  const uint32_t ids[] = {0x02041400, 0x0204143F, 0x02041440, 0x02051400, 0x0204141F, 0x03041400};
  for (uint32_t id : ids) bus_->inject(Frame(id, {0}));
  readAll(all, 6);  // every frame has been offered to both sessions by now

  std::vector<uint32_t> admitted;
  for (const auto& received : readAll(session, 3)) admitted.push_back(received.messageID);
  EXPECT_EQ((std::vector<uint32_t>{0x02041400, 0x0204143F, 0x0204141F}), admitted);
}

TEST_F(CanMuxTest, FullSessionDropsNewestAndReportsOverflowOnce) {
  const uint32_t small = open(0x0204F905, 0x1FFFFFFF, 64);
  const uint32_t witness = open(0x0204F905, 0x1FFFFFFF, 100);
  for (uint8_t i = 0; i < 65; ++i) bus_->inject(Frame(0x0204F905, {i}));
  ASSERT_EQ(65u, readAll(witness, 65).size());

  CanStreamMessage batch[100];
  uint32_t read = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(small, batch, 100, &read, &status);
  EXPECT_EQ(kCanMuxStatusOverflow, status);
  ASSERT_EQ(64u, read);
  for (uint8_t i = 0; i < 64; ++i) EXPECT_EQ(i, batch[i].data[0]) << "frame " << int(i);

  FRC_NetworkCommunication_CANSessionMux_readStreamSession(small, batch, 100, &read, &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(0u, read);
}

TEST_F(CanMuxTest, ReadTakesAtMostTheRequestedCountOldestFirst) {
  const uint32_t session = open(0, 0, 64);
  const uint32_t witness = open(0, 0, 64);
  for (uint8_t i = 0; i < 5; ++i) bus_->inject(Frame(0x100 + i, {i}));
  readAll(witness, 5);

  CanStreamMessage batch[2];
  uint32_t read = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(session, batch, 2, &read, &status);
  ASSERT_EQ(2u, read);
  EXPECT_EQ(0x100u, batch[0].messageID);
  EXPECT_EQ(0x101u, batch[1].messageID);
  EXPECT_EQ(3u, readAll(session, 3).size());
}

TEST_F(CanMuxTest, UnknownHandleReports601AndNothingRead) {
  CanStreamMessage batch[4];
  uint32_t read = 7;
  int32_t status = 0;
  EXPECT_EQ(kCanMuxStatusUnknownHandle, FRC_NetworkCommunication_CANSessionMux_readStreamSession(
                                            12345, batch, 4, &read, &status));
  EXPECT_EQ(kCanMuxStatusUnknownHandle, status);
  EXPECT_EQ(0u, read);
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(12345);  // ignored
}

TEST_F(CanMuxTest, NullOutputsAreRejectedNotDereferenced) {
  int32_t status = 0;
  EXPECT_EQ(kCanMuxStatusInvalidArgument,
            FRC_NetworkCommunication_CANSessionMux_openStreamSession(nullptr, 0, 0, 8, &status));
  const uint32_t session = open(0, 0, 8);
  uint32_t read = 3;
  EXPECT_EQ(kCanMuxStatusInvalidArgument,
            FRC_NetworkCommunication_CANSessionMux_readStreamSession(session, nullptr, 4, &read,
                                                                     &status));
  EXPECT_EQ(0u, read);
}

TEST_F(CanMuxTest, OneShotSendReachesTheBusWithSizeRules) {
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int32_t status = 1;
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F901, data, 3, 0, &status);
  EXPECT_EQ(0, status);
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F902, data, 200, 0, &status);
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F903, nullptr, 5, 0, &status);

  const auto seen = device_.frames();
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(3, seen[0].dataSize);
  EXPECT_EQ(3, seen[0].data[2]);
  EXPECT_EQ(8, seen[1].dataSize);  // sizes above 8 are cut to 8
  EXPECT_EQ(0, seen[2].dataSize);  // no data pointer, no data
  EXPECT_EQ(3u, bus_->framesFromServer());
}

TEST_F(CanMuxTest, PeriodTwentyRepeatsEveryTwentyOneMillisecondsAndPeriodZeroCancels) {
  constexpr uint32_t kId = 0x0204F911;
  ASSERT_EQ(0, sendPeriodic(kId, 0x55, 20));
  ASSERT_TRUE(WaitUntil([&] { return device_.framesWithId(kId).size() >= 6; }));

  const auto repeated = device_.framesWithId(kId);
  std::vector<uint32_t> gaps_us;
  for (size_t i = 1; i < repeated.size(); ++i) {
    gaps_us.push_back(repeated[i].timeStamp - repeated[i - 1].timeStamp);
  }
  // More than 20 whole milliseconds must pass between repetitions; the upper bound is loose
  // because the machine may be busy.
  for (uint32_t gap : gaps_us) EXPECT_GE(gap, 20000u);
  std::sort(gaps_us.begin(), gaps_us.end());
  EXPECT_LT(gaps_us[gaps_us.size() / 2], 60000u);
  EXPECT_EQ(0x55, repeated[0].data[0]);

  ASSERT_EQ(0, sendPeriodic(kId, 0x66, 0));  // cancels and sends once
  const size_t afterCancel = device_.framesWithId(kId).size();
  EXPECT_EQ(0x66, device_.framesWithId(kId).back().data[0]);
  // Absence cannot be awaited; give the transmit thread several periods to misbehave.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(afterCancel, device_.framesWithId(kId).size());
}

TEST_F(CanMuxTest, PeriodMinusOneOnNewIdSendsEveryPassAndMinusTwoStops) {
  constexpr uint32_t kId = 0x0204F922;
  ASSERT_EQ(0, sendPeriodic(kId, 1, kCanMuxPeriodKeep));
  EXPECT_TRUE(WaitUntil([&] { return device_.framesWithId(kId).size() >= 5; }));

  // Keep on an existing entry changes the data and keeps the period.
  ASSERT_EQ(0, sendPeriodic(kId, 2, kCanMuxPeriodKeep));
  EXPECT_TRUE(WaitUntil([&] { return device_.framesWithId(kId).back().data[0] == 2; }));

  ASSERT_EQ(0, sendPeriodic(kId, 3, kCanMuxPeriodStop));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a pass may be under way
  const size_t stopped = device_.framesWithId(kId).size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(stopped, device_.framesWithId(kId).size());
  for (const auto& sent : device_.framesWithId(kId)) EXPECT_NE(3, sent.data[0]);
}

// The transmit thread sleeps until the earliest entry is due; a new entry due sooner must wake
// it rather than wait out the minute.
TEST_F(CanMuxTest, NewEntryWakesATransmitThreadAsleepOnAFarDeadline) {
  constexpr uint32_t kSlow = 0x0204F944;
  constexpr uint32_t kFast = 0x0204F955;
  ASSERT_EQ(0, sendPeriodic(kSlow, 1, 60000));
  ASSERT_EQ(0, sendPeriodic(kFast, 2, 1));
  EXPECT_TRUE(WaitUntil([&] { return device_.framesWithId(kFast).size() >= 3; }));
  EXPECT_TRUE(device_.framesWithId(kSlow).empty());
  sendPeriodic(kSlow, 0, kCanMuxPeriodStop);
  sendPeriodic(kFast, 0, kCanMuxPeriodStop);
}

TEST_F(CanMuxTest, BackendCanBeSwappedWhileRunning) {
  const uint32_t session = open(0, 0, 16);
  auto second = std::make_shared<VirtualBus>();
  CanMux_SetBackend(second);
  EXPECT_EQ(second, CanMux_Backend());
  second->inject(Frame(0x42, {9}));
  const auto received = readAll(session, 1);
  ASSERT_EQ(1u, received.size());
  EXPECT_EQ(9, received[0].data[0]);

  CanMux_SetBackend(nullptr);
  EXPECT_STREQ("none", CanMux_Backend()->interfaceName());
}

// A bus that holds back one frame (by ID and first byte) until released, and records every
// frame when its transmission ends, which is when it is on the wire.
class GatedBus : public CanBackend {
 public:
  GatedBus(uint32_t heldId, uint8_t heldFirstByte) : heldId_(heldId), heldByte_(heldFirstByte) {}
  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override {
    std::unique_lock<std::mutex> hold(mutex_);
    if (id == heldId_ && size > 0 && data[0] == heldByte_ && !released_) {
      holding_ = true;
      changed_.notify_all();
      changed_.wait_for(hold, std::chrono::seconds(3), [&] { return released_; });
    }
    sent_.push_back(Frame(id, {size > 0 ? data[0] : uint8_t{0}}));
    return 0;
  }
  int32_t receive(CanStreamMessage*, uint32_t, uint32_t* count) override {
    *count = 0;
    return 0;
  }
  const char* interfaceName() const override { return "gated"; }

  bool waitUntilHolding() {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::seconds(3), [&] { return holding_; });
  }
  void release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<uint8_t> firstBytesSent() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<uint8_t> bytes;
    for (const CanStreamMessage& sent : sent_) bytes.push_back(sent.data[0]);
    return bytes;
  }

 private:
  const uint32_t heldId_;
  const uint8_t heldByte_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = false;
  bool released_ = false;
  std::vector<CanStreamMessage> sent_;
};

TEST(CanMuxPeriodicCancel, OneShotNeverOvertakesARepetitionAlreadyUnderWay) {
  constexpr uint32_t kId = 0x0204F933;
  auto bus = std::make_shared<GatedBus>(kId, 0x55);
  CanMux_SetBackend(bus);
  const uint8_t repeated[1] = {0x55};
  int32_t status = 1;
  FRC_NetworkCommunication_CANSessionMux_sendMessage(kId, repeated, 1, 5, &status);
  ASSERT_EQ(0, status);
  ASSERT_TRUE(bus->waitUntilHolding());  // the transmit thread is putting a repetition out

  std::thread canceller([] {
    const uint8_t stop[1] = {0x66};
    int32_t cancelStatus = 1;
    FRC_NetworkCommunication_CANSessionMux_sendMessage(kId, stop, 1, 0, &cancelStatus);
  });
  // The one-shot waits for the repetition in flight instead of reaching the wire before it.
  EXPECT_FALSE(WaitUntil([&] { return !bus->firstBytesSent().empty(); },
                         std::chrono::milliseconds(200)));
  bus->release();
  canceller.join();
  std::vector<uint8_t> sent;
  ASSERT_TRUE(WaitUntil([&] {  // the held repetition has reached the wire
    sent = bus->firstBytesSent();
    return std::count(sent.begin(), sent.end(), 0x55) > 0;
  }));
  CanMux_SetBackend(nullptr);

  EXPECT_EQ(0x66, sent.back()) << "a stale repetition followed the one-shot";
  EXPECT_EQ(1, std::count(sent.begin(), sent.end(), 0x66));
}

// A bus whose receive hook fails until told otherwise.
class BrokenReceiveBus : public CanBackend {
 public:
  int32_t transmit(uint32_t, const uint8_t*, uint8_t) override { return 0; }
  int32_t receive(CanStreamMessage*, uint32_t, uint32_t* count) override {
    *count = 0;
    ++calls;
    return failing.load() ? kCanMuxStatusReceiveFailed : 0;
  }
  const char* interfaceName() const override { return "broken0"; }
  std::atomic<bool> failing{true};
  std::atomic<int> calls{0};
};

TEST(CanMuxReceiveFailure, IsLoggedOncePerRunOfFailures) {
  std::mutex mutex;
  std::vector<std::string> errors;
  quor::tessera::diagnostics::SetLogSink([&](const std::string& text, bool isError) {
    std::lock_guard<std::mutex> hold(mutex);
    if (isError) errors.push_back(text);
  });
  auto broken = std::make_shared<BrokenReceiveBus>();
  CanMux_SetBackend(broken);
  uint32_t handle = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0, 0, 4, &status);
  ASSERT_TRUE(WaitUntil([&] { return broken->calls.load() >= 10; }));
  broken->failing = false;
  const int healthyFrom = broken->calls.load();
  ASSERT_TRUE(WaitUntil([&] { return broken->calls.load() >= healthyFrom + 3; }));
  broken->failing = true;
  const int failingAgain = broken->calls.load();
  ASSERT_TRUE(WaitUntil([&] { return broken->calls.load() >= failingAgain + 3; }));
  CanMux_SetBackend(nullptr);
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle);
  quor::tessera::diagnostics::SetLogSink(nullptr);

  ASSERT_EQ(2u, errors.size());
  EXPECT_EQ("[tessera] CAN receive on broken0 failed (status -1002); is the interface still up?",
            errors[0]);
}

}  // namespace
