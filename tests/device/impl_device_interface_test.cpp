// The locking front: its worker's lifecycle, restarting after dispose, and the lock-free
// progress query.
#include "device/impl_device_interface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "device/error_codes.h"
#include "runtime/cs.h"
#include "sim/builtin_robot.h"
#include "sim/device_file.h"
#include "simulated_engine.h"

namespace {

using engine_test::SimulatedEngine;
using quor::tessera::sim::BuiltInRobot;
using quor::tessera::sim::DefaultDevice;
using quor::tessera::sim::DeviceFamily;

TEST(DeviceInterfaceWorker, DisposeTwiceAndRestart) {
  QuorDeviceInterface engine;
  ImplDeviceInterface front(engine);
  EXPECT_TRUE(front.IsWorkerRunning());
  EXPECT_EQ(front.dispose(), 0);
  EXPECT_FALSE(front.IsWorkerRunning());
  EXPECT_EQ(front.dispose(), 0);
  EXPECT_EQ(front.restart(), 0);
  EXPECT_TRUE(front.IsWorkerRunning());
  EXPECT_EQ(front.restart(), 0);
  EXPECT_TRUE(front.IsWorkerRunning());
}

TEST(DeviceInterfaceWorker, WorkerStepsTheDynamicIdServer) {
  tessera_test::BusRecorder bus;
  QuorDeviceInterface engine;
  ImplDeviceInterface front(engine);
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return engine.DhcpServer().GetState() == CanDhcpServer::kSettled; },
      std::chrono::seconds(5), std::chrono::milliseconds(1)));
  front.dispose();
  engine.DhcpServer().Restart();
}

// The device-interface lock held by another thread, as an operation holds it, from
// construction until release().
class LockHeldElsewhere {
 public:
  LockHeldElsewhere()
      : holder_([this] {
          CsH hold(_lck);
          locked_.set_value();
          release_.get_future().wait();
        }) {
    locked_.get_future().wait();
  }
  ~LockHeldElsewhere() { release(); }
  void release() {
    if (!holder_.joinable()) return;
    release_.set_value();
    holder_.join();
  }

 private:
  std::promise<void> locked_;
  std::promise<void> release_;
  std::thread holder_;
};

TEST(DeviceInterfaceLock, ProgressAnswersWhileAnOperationHoldsTheLock) {
  QuorDeviceInterface engine;
  ImplDeviceInterface front(engine);
  LockHeldElsewhere lock;
  auto progress = std::async(std::launch::async, [&] {
    int percent = -1;
    bool updating = true;
    front.checkUpdateProgress(&percent, &updating);
    return std::make_pair(percent, updating);
  });
  const bool answered = progress.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  lock.release();
  ASSERT_TRUE(answered);
  EXPECT_EQ(progress.get(), std::make_pair(0, false));
}

// A self-test only listens, on a session of its own: it neither waits for an operation that
// holds the lock nor disturbs the rounds that run beside it.
TEST(DeviceInterfaceLock, SelfTestRunsBesideOperationsThatHoldTheLock) {
  SimulatedEngine sim(BuiltInRobot());
  ASSERT_TRUE(sim.WaitUntilAddressable());
  ASSERT_EQ(sim.RoundsUntilListed(8), 8u);
  const auto listed = sim.Listed();
  const auto kx = std::find_if(listed.begin(), listed.end(), [](const auto& d) {
    return std::string(d.model) == "Kestrel KX";
  });
  ASSERT_NE(kx, listed.end());
  const auto selfTest = [&] {
    std::string text(8192, '\0');
    const int result = sim.Front().selfTest(&*kx, text.data(), static_cast<int>(text.size()));
    text.resize(std::strlen(text.c_str()));
    return std::make_pair(result, text);
  };
  const auto expectWholeReport = [&](const std::pair<int, std::string>& answer) {
    EXPECT_EQ(answer.first, QUOR_DI_OKAY);
    EXPECT_NE(answer.second.find("Motor Type: Brushed\n"), std::string::npos) << answer.second;
    EXPECT_EQ(answer.second.find("Some frames are missing"), std::string::npos) << answer.second;
  };

  {
    LockHeldElsewhere lock;
    auto answer = std::async(std::launch::async, selfTest);
    const bool answered = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    lock.release();
    ASSERT_TRUE(answered) << "the self-test waited for the lock";
    expectWholeReport(answer.get());
  }

  std::atomic<bool> done{false};
  std::atomic<size_t> fewestListed{8};
  std::thread rounds([&] {
    while (!done) {
      sim.Round();
      fewestListed = std::min(fewestListed.load(), sim.Listed().size());
    }
  });
  for (int i = 0; i < 3; ++i) expectWholeReport(selfTest());
  done = true;
  rounds.join();
  EXPECT_EQ(fewestListed, 8u) << "a round beside the self-tests lost a device";
}

TEST(DeviceInterfaceOperations, UnknownDevicesAreNamedAsSuch) {
  QuorDeviceInterface engine;
  ImplDeviceInterface front(engine);
  CANDeviceInterface1::DeviceDescriptor device{};
  char text[16] = "x";
  // Built: a device the engine does not know is explained, cut to the buffer.
  EXPECT_EQ(front.selfTest(&device, text, sizeof text), QUOR_DI_InvalidDeviceSpec);
  EXPECT_STREQ(text, "\nError Code : Q");
  ConfigByteArray config;
  // The configuration operations are built: an unknown device is named as such.
  EXPECT_EQ(front.getConfigParameters(&device, config), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(front.saveConfigParameters(&device, config, config), QUOR_DI_InvalidDeviceSpec);
}

// A server that is stopped and started again disposes of the worker and restarts it: the
// dynamic-ID server must then find devices plugged in meanwhile and follow the new dynamic IDs
// the devices take after its reset.
TEST(DeviceInterfaceRestart, DevicesFoundAndAddressedAfterDisposeAndRestart) {
  auto devices = BuiltInRobot();
  devices.resize(6);
  SimulatedEngine sim(devices);
  ASSERT_TRUE(sim.WaitUntilAddressable());
  ASSERT_EQ(sim.RoundsUntilListed(6), 6u);
  const int dynamicBefore = sim.Robot().dynamicNumber(2);

  ASSERT_EQ(sim.Front().dispose(), 0);
  const size_t added = sim.Robot().addDevice(DefaultDevice(DeviceFamily::kCantap, 6));
  ASSERT_EQ(sim.Front().restart(), 0);
  ASSERT_TRUE(sim.WaitUntilAddressable());
  EXPECT_NE(sim.Robot().dynamicNumber(2), dynamicBefore);

  std::vector<CANDeviceInterface1::DeviceDescriptor> listed;
  tessera_test::WaitUntil(
      [&] {
        sim.Round();
        listed = sim.Listed();
        return listed.size() == 7;
      },
      std::chrono::seconds(10), std::chrono::milliseconds(0));
  ASSERT_EQ(listed.size(), 7u);
  EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const auto& d) {
    return d.arbId == sim.Robot().baseArbId(added);
  }));
  // Two more rounds poll every device again through its current dynamic ID.
  sim.Round();
  sim.Round();
  listed = sim.Listed();
  ASSERT_EQ(listed.size(), 7u);
  for (size_t i = 0; i < sim.Robot().deviceCount(); ++i) {
    const auto* d = sim.Engine().GetDescriptor(sim.Robot().baseArbId(i));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(static_cast<int>(d->dynamicId & 0x3F), sim.Robot().dynamicNumber(i)) << d->name;
  }
}

}  // namespace
