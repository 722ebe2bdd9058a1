// A reader that sleeps until frames come: the session raises its signal when frames are queued
// for it, when a read leaves some behind, and at once when it holds some already; not for
// frames its filter refuses, and never after it was closed.
#include <gtest/gtest.h>

#include <memory>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/can_frames.h"

namespace {

constexpr uint32_t kFilterId = 0x0204F900;
constexpr uint32_t kFilterMask = 0x1FFFFFC0;
constexpr uint32_t kMatching = 0x0204F905;
constexpr uint32_t kRefused = 0x0204F505;
// Generous: a signal that should come comes at once; only a missing one waits this long.
constexpr int kLongWait_ms = 5000;

class SessionWake : public ::testing::Test {
 protected:
  void SetUp() override {
    CanMux_SetBackend(bus_);
    int32_t status = -1;
    FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle_, kFilterId, kFilterMask,
                                                             8, &status);
    ASSERT_EQ(kCanMuxStatusOk, status);
  }
  void TearDown() override {
    FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle_);
    CanMux_SetBackend(nullptr);
  }
  uint32_t read(uint32_t atMost) {
    CanStreamMessage messages[8];
    uint32_t count = 0;
    int32_t status = 0;
    FRC_NetworkCommunication_CANSessionMux_readStreamSession(handle_, messages, atMost, &count,
                                                             &status);
    return count;
  }

  std::shared_ptr<VirtualBus> bus_ = std::make_shared<VirtualBus>();
  uint32_t handle_ = 0;
  WakeSignal wake_;
};

TEST_F(SessionWake, RaisedByFramesForTheSessionOnly) {
  ASSERT_TRUE(CanMux_WakeOnFrames(handle_, &wake_));
  EXPECT_FALSE(wake_.wait(0)) << "raised with nothing queued";

  bus_->inject(tessera_test::Frame(kRefused, {1}));
  bus_->inject(tessera_test::Frame(kMatching, {1}));
  EXPECT_TRUE(wake_.wait(kLongWait_ms));
  bus_->inject(tessera_test::Frame(kMatching, {2}));
  EXPECT_TRUE(wake_.wait(kLongWait_ms));

  EXPECT_EQ(1u, read(1));
  EXPECT_TRUE(wake_.wait(0)) << "a frame left behind must not be slept on";
  EXPECT_EQ(1u, read(8));
  EXPECT_FALSE(wake_.wait(0));
}

TEST_F(SessionWake, RaisedAtOnceForFramesAlreadyQueuedAndNeverAfterClose) {
  WakeSignal delivered;
  ASSERT_TRUE(CanMux_WakeOnFrames(handle_, &delivered));
  bus_->inject(tessera_test::Frame(kMatching, {1}));
  ASSERT_TRUE(delivered.wait(kLongWait_ms));
  ASSERT_TRUE(CanMux_WakeOnFrames(handle_, &wake_));  // the frame is still queued
  EXPECT_TRUE(wake_.wait(0));

  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle_);
  EXPECT_FALSE(CanMux_WakeOnFrames(handle_, &wake_));
  bus_->inject(tessera_test::Frame(kMatching, {2}));
  EXPECT_FALSE(wake_.wait(50)) << "raised for a closed session";
  EXPECT_FALSE(delivered.wait(0)) << "a replaced signal was raised";
}

}  // namespace
