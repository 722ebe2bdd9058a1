// tessera-sim's bridge between a real bus (here the multiplexer's virtual bus) and the devices'
// bus in wire time.
#include "host/sim_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

namespace {

// A device whose bus is held up at the first frame, as a loaded machine holds up the thread
// that runs it, for longer than a sender waits for room in its transmit queue.
class HeldUpDevice : public tessera_test::RecordingEndpoint {
 public:
  void onBusFrame(const CanStreamMessage& frame) override {
    if (count() == 0)
      std::this_thread::sleep_for(
          std::chrono::microseconds(3 * VirtualBus::kTransmitRetryBudget_us));
    RecordingEndpoint::onBusFrame(frame);
  }
};

// A sector's first frame and 220 consecutive frames come from the wire at once: the devices
// hear every one, in order, though their bus took none for a while.
TEST(SimBridge, EveryFrameOfABurstReachesADeviceWhoseBusIsHeldUp) {
  tessera_test::BusRecorder wire;
  VirtualBus devicesBus(VirtualBus::Timing::kWireTime);
  HeldUpDevice device;
  devicesBus.attach(&device);
  SimBridge bridge(devicesBus);
  std::string error;
  ASSERT_TRUE(bridge.start(&error)) << error;

  constexpr int kFrames = 221;
  for (int i = 0; i < kFrames; ++i)
    wire.Inject(0x0204F90E, {static_cast<uint8_t>(0x20 | (i & 15)), static_cast<uint8_t>(i)});
  ASSERT_TRUE(
      tessera_test::WaitUntil([&] { return device.count() >= kFrames; }, std::chrono::seconds(10)))
      << device.count() << " of " << kFrames << " frames reached the device";
  const std::vector<CanStreamMessage> heard = device.frames();
  for (int i = 0; i < kFrames; ++i) EXPECT_EQ(heard[i].data[1], static_cast<uint8_t>(i)) << i;
  EXPECT_EQ(bridge.overflows(), 0u);
  bridge.stop();
  devicesBus.detach(&device);
}

}  // namespace
