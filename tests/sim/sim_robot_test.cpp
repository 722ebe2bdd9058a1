#include "sim/sim_robot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "sim/builtin_robot.h"
#include "sim/device_file.h"
#include "sim/family_traits.h"
#include "sim/sim_backend.h"
#include "sim/sim_wire.h"
#include "tests/sim/control_frames.h"

namespace quor::tessera::sim {
namespace {

constexpr int kWait_ms = 3000;  // generous: the machine may be busy
constexpr uint8_t kAA = 0xAA;
using FramePredicate = std::function<bool(const CanStreamMessage&)>;

// Test code on the bus: records every frame the robot puts there and plays the server.
class BusProbe : public VirtualBus::Endpoint {
 public:
  explicit BusProbe(VirtualBus& bus) : bus_(bus) { bus_.attach(this); }
  ~BusProbe() override { bus_.detach(this); }

  void onBusFrame(const CanStreamMessage& frame) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      frames_.push_back(frame);
    }
    arrived_.notify_all();
  }

  // Waits for the next unconsumed frame matching `match` and consumes it.
  std::optional<CanStreamMessage> next(const FramePredicate& match, int timeout_ms = kWait_ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    std::optional<CanStreamMessage> found;
    arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
      for (size_t i = 0; i < frames_.size(); ++i) {
        if (match(frames_[i])) {
          found = frames_[i];
          frames_.erase(frames_.begin() + static_cast<long>(i));
          return true;
        }
      }
      return false;
    });
    return found;
  }

  size_t count(const FramePredicate& match) {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& frame : frames_) n += match(frame) ? 1 : 0;
    return n;
  }

  void forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.clear();
  }

  void send(uint32_t id, std::vector<uint8_t> request) {
    uint8_t data[8] = {static_cast<uint8_t>(request.size()), kAA, kAA, kAA, kAA, kAA, kAA, kAA};
    for (size_t i = 0; i < request.size(); ++i) data[i + 1] = request[i];
    bus_.transmit(id, data, 8);
  }

  // One request/answer exchange as the server runs it, flow control included.
  std::vector<uint8_t> ask(uint32_t requestId, uint32_t answerId, std::vector<uint8_t> request,
                           int timeout_ms = kWait_ms) {
    send(requestId, std::move(request));
    const FramePredicate onAnswerId = [answerId](const CanStreamMessage& f) {
      return f.messageID == answerId;
    };
    const auto first = next(onAnswerId, timeout_ms);
    if (!first) return {};
    if ((first->data[0] & 0xF0) == 0) {
      return std::vector<uint8_t>(first->data + 1, first->data + 1 + (first->data[0] & 0x0F));
    }
    const size_t size = ((first->data[0] & 0x0Fu) << 8) | first->data[1];
    std::vector<uint8_t> answer(first->data + 2, first->data + 8);
    const uint8_t flowControl[8] = {0x30, 0, 0, kAA, kAA, kAA, kAA, kAA};
    bus_.transmit(requestId, flowControl, 8);
    while (answer.size() < size) {
      const auto cf = next(onAnswerId);
      if (!cf) return {};
      answer.insert(answer.end(), cf->data + 1, cf->data + 8);
    }
    answer.resize(size);
    return answer;
  }

  // Plays the dynamic-ID server until the robot says every device holds a number.
  bool handOutNumbers(SimRobot& robot) {
    uint8_t nextOffer = 6;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWait_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (robot.waitForDynamicNumbers(0)) return true;
      const auto frame = next(
          [](const CanStreamMessage& f) {
            return (f.messageID & 0xFFFF80) == 0x04F800 || (f.messageID & 0xFFFF80) == 0x04F880;
          },
          50);
      if (!frame) continue;
      if ((frame->messageID & 0xFFFF80) == 0x04F800) {
        const uint8_t offer[8] = {0, 0, 0, 0, 0, 0, 0, nextOffer};
        bus_.transmit(wire::kOfferId, offer, 8);
      } else if (frame->data[7] == nextOffer) {
        bus_.transmit(wire::kConfirmId, frame->data, 8);
        ++nextOffer;
      }
    }
    return robot.waitForDynamicNumbers(0);
  }

 private:
  VirtualBus& bus_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<CanStreamMessage> frames_;
};

bool IsIdRequest(const CanStreamMessage& f) { return (f.messageID & 0xFFFF80) == 0x04F800; }
bool IsPresenceAnswer(const CanStreamMessage& f) {
  return (f.messageID & 0xFFC0) == 0xFC40 && f.data[0] == 0x02 && f.data[1] == 0x7E;
}
uint32_t AnswerIdOf(uint32_t baseArbId) { return baseArbId | (wire::kStaticAnswerIndex << 6); }

class SimRobotTest : public ::testing::Test {
 protected:
  // The probe attaches first so it sees the robot's power-up frames.
  VirtualBus bus;
  BusProbe probe{bus};
  std::unique_ptr<SimRobot> robot = std::make_unique<SimRobot>(bus, BuiltInRobot());
};

TEST_F(SimRobotTest, EveryDeviceAsksForADynamicNumberAtPowerUp) {
  std::set<uint32_t> types;
  for (int i = 0; i < 8; ++i) {
    const auto request = probe.next(IsIdRequest);
    ASSERT_TRUE(request) << "request " << i;
    types.insert(request->messageID >> 24);
  }
  EXPECT_EQ(types, (std::set<uint32_t>{1, 2, 3, 5, 8, 9, 21}));
}

TEST_F(SimRobotTest, DynamicNumbersAreHandedOutAndReported) {
  ASSERT_TRUE(probe.handOutNumbers(*robot));
  std::set<int> numbers;
  for (size_t i = 0; i < robot->deviceCount(); ++i) numbers.insert(robot->dynamicNumber(i));
  EXPECT_EQ(numbers, (std::set<int>{6, 7, 8, 9, 10, 11, 12, 13}));
  probe.forget();
  probe.send(wire::kGetAllId, {});  // (a get-all has no data; the probe's padding is ignored)
  for (size_t i = 0; i < robot->deviceCount(); ++i) {
    const int number = robot->dynamicNumber(i);
    const auto report = probe.next([number](const CanStreamMessage& f) {
      return (f.messageID & 0xFFFBC0) == 0x04F9C0 && static_cast<int>(f.messageID & 0x3F) == number;
    });
    ASSERT_TRUE(report) << "device " << i;
    EXPECT_EQ(report->data[7], robot->baseArbId(i) & 0x3F);
  }
}

TEST_F(SimRobotTest, UnpluggedDeviceStopsAnsweringAndAsksAgainWhenPluggedIn) {
  const size_t kx = 2;
  const uint32_t kxBase = robot->baseArbId(kx);
  ASSERT_EQ(kxBase, 0x0204FC01u);
  ASSERT_TRUE(robot->unplug(kx));
  EXPECT_FALSE(robot->isPlugged(kx));
  probe.forget();
  probe.send(wire::kPresenceBroadcastId, {0x3E, 0x00});
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(probe.next(IsPresenceAnswer)) << i;
  // Everything sent before this request has been handled once its answer is back.
  ASSERT_FALSE(probe.ask(0x0804FC00, 0x0804FC40, {0xBB}).empty());
  EXPECT_EQ(probe.count(
                [kxBase](const CanStreamMessage& f) { return f.messageID == AnswerIdOf(kxBase); }),
            0u);

  ASSERT_TRUE(robot->plugIn(kx));
  const auto request = probe.next(IsIdRequest);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->messageID >> 24, 2u);
  EXPECT_EQ(probe.ask(wire::kPresenceBroadcastId, AnswerIdOf(kxBase), {0x3E, 0x00}),
            (std::vector<uint8_t>{0x7E, 0x00}));
}

TEST_F(SimRobotTest, ModeAndNameChangesShowInTheAnswers) {
  const size_t wren = 5;
  const uint32_t base = robot->baseArbId(wren);
  EXPECT_EQ(probe.ask(base, AnswerIdOf(base), {0xBB}), (std::vector<uint8_t>{0xFB, 0x01, 0x03}));
  ASSERT_TRUE(robot->setMode(wren, DeviceMode::kBootloader));
  EXPECT_EQ(probe.ask(base, AnswerIdOf(base), {0xBB}), (std::vector<uint8_t>{0xFB, 0x00, 0x00}));
  ASSERT_TRUE(robot->setMode(wren, DeviceMode::kApplication));
  ASSERT_TRUE(robot->setCustomName(wren, "Gyro"));
  EXPECT_EQ(probe.ask(base, AnswerIdOf(base), {0xC8}),
            (std::vector<uint8_t>{0x08, 0x00, 0x04, 'G', 'y', 'r', 'o'}));
  DeviceAttributes attributes;
  ASSERT_TRUE(robot->attributes(wren, &attributes));
  EXPECT_EQ(attributes.customName, "Gyro");
  EXPECT_EQ(attributes.mode, DeviceMode::kApplication);
  ASSERT_TRUE(robot->setMode(wren, DeviceMode::kSilent));
  EXPECT_TRUE(probe.ask(base, AnswerIdOf(base), {0xBB}, 200).empty());
}

TEST_F(SimRobotTest, LongAnswersCrossTheBusWhole) {
  const uint32_t kf = robot->baseArbId(3);
  const auto image = probe.ask(kf, AnswerIdOf(kf), {0xC5, 0x02});
  ASSERT_EQ(image.size(), 2u + 412u);
  EXPECT_EQ(image[0], 0x05);
  EXPECT_EQ(image[2], 2) << "motor-controller format marker";
  const auto record = probe.ask(kf, AnswerIdOf(kf), {0xB0});
  ASSERT_EQ(record.size(), 97u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[33])), "Kestrel KF");
}

TEST_F(SimRobotTest, RuntimeControlRejectsUnknownDevices) {
  const size_t beyond = robot->deviceCount();
  DeviceAttributes attributes;
  EXPECT_FALSE(robot->attributes(beyond, &attributes));
  EXPECT_FALSE(robot->unplug(beyond));
  EXPECT_FALSE(robot->plugIn(beyond));
  EXPECT_FALSE(robot->setMode(beyond, DeviceMode::kSilent));
  EXPECT_FALSE(robot->setCustomName(beyond, "x"));
  EXPECT_EQ(robot->dynamicNumber(beyond), -1);
  EXPECT_EQ(robot->baseArbId(beyond), 0u);
}

TEST_F(SimRobotTest, AddedDeviceJoinsTheBus) {
  const size_t index = robot->addDevice(DefaultDevice(DeviceFamily::kHarrierHx, 9));
  EXPECT_EQ(index, 8u);
  EXPECT_EQ(robot->deviceCount(), 9u);
  EXPECT_EQ(robot->allAttributes().back().deviceNumber, 9);
  const uint32_t base = robot->baseArbId(index);
  EXPECT_EQ(base, 0x0104FC09u);
  EXPECT_EQ(probe.ask(base, AnswerIdOf(base), {0xB5}), (std::vector<uint8_t>{0xF5, 1, 0, 0}));
}

TEST_F(SimRobotTest, ShutsDownCleanlyWhileTheBusIsBusy) {
  for (int i = 0; i < 20; ++i) probe.send(wire::kPresenceBroadcastId, {0x3E, 0x00});
  robot.reset();  // joins the simulation thread; must not hang or crash
  probe.forget();
  probe.send(wire::kPresenceBroadcastId, {0x3E, 0x00});
  EXPECT_FALSE(probe.next(IsPresenceAnswer, 100)) << "a destroyed robot never answers";
}

// Plain general status frame: applied output in d3 bits 2-0 and d4, signed 11 bits.
int GeneralOutput(const CanStreamMessage& f) {
  const int raw = (f.data[3] & 0x7) << 8 | f.data[4];
  return raw >= 1024 ? raw - 2048 : raw;
}

TEST_F(SimRobotTest, StatusFramesFollowTheStateAndControlFramesDriveTheMotor) {
  const size_t kx = 2;  // Kestrel KX, device number 1
  ASSERT_TRUE(robot->editState(kx, [](DeviceState& state) {
    state.broadcast.scramble = ScramblePolicy::kPlain;
    state.motor.output = 0.25;
  }));
  const auto generalWithOutput = [](int output) {
    return [output](const CanStreamMessage& f) {
      return f.messageID == 0x020401C1 && GeneralOutput(f) == output;
    };
  };
  EXPECT_TRUE(probe.next(generalWithOutput(256)));

  // A server's control: half output and the enable frame every 10 ms for 300 ms.
  const CanStreamMessage control = testing::ControlFrame(0x02040201, 512, 0);
  const uint8_t enable[2] = {0x01, 0x00};
  auto lastSent = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 30; ++tick) {
    bus.transmit(control.messageID, control.data, 8);
    bus.transmit(0x000401BF, enable, 2);
    lastSent = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the sender's period
  }
  EXPECT_TRUE(probe.next(generalWithOutput(512)));
  const auto moving = probe.next([](const CanStreamMessage& f) {
    return f.messageID == 0x02041441 && static_cast<int16_t>(f.data[3] << 8 | f.data[4]) > 1000;
  });
  EXPECT_TRUE(moving) << "the quadrature velocity rises";
  probe.forget();
  ASSERT_TRUE(probe.next(generalWithOutput(0)));
  EXPECT_GE(std::chrono::steady_clock::now() - lastSent, std::chrono::milliseconds(100))
      << "the last frame counts for 100 ms";
  DeviceAttributes attributes;
  ASSERT_TRUE(robot->attributes(kx, &attributes));
  EXPECT_GT(attributes.state.motor.quadPosition, 0);
}

TEST(SimBackendFactory, BuiltInRobotOrDeviceFile) {
  std::string error;
  auto bus = MakeSimBus("", &error);
  ASSERT_NE(bus, nullptr);
  EXPECT_EQ(bus->robot().deviceCount(), 8u);
  EXPECT_STREQ(bus->interfaceName(), "sim");

  auto backend = MakeSimBackend("/nonexistent/robot.json", &error);
  EXPECT_EQ(backend, nullptr);
  EXPECT_NE(error.find("cannot open device file /nonexistent/robot.json"), std::string::npos);
}

}  // namespace
}  // namespace quor::tessera::sim
