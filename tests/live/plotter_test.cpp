// The plotter on the virtual bus: status frames put on the bus as a motor controller sends them
// (plain, or scrambled by the simulated firmware's own code), and the "plot" answers, with every
// expected value worked out by hand from the frame layouts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "canmux/can_mux.h"
#include "device/device_descriptor.h"
#include "live/plotter.h"
#include "sim/scrambler.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quor::tessera::diagnostics::Plotter;
using quor::tessera::sim::ScrambleRoutine;
using Params = std::map<std::string, std::string>;

constexpr uint32_t kKestrel1 = 0x02040001;
constexpr uint32_t kKestrel2 = 0x02040002;
constexpr uint32_t kPdp = 0x08040000;

// API values and where their scramble mode sits (bit of dword1).
constexpr uint32_t kGeneral = 0x01C0, kFeedback = 0x1440, kQuadrature = 0x1480;
constexpr uint32_t kTargets = 0x1640, kAuxFeedback = 0x16C0, kPid0 = 0x1700, kPid1 = 0x1740;
uint8_t ModeBitOf(uint32_t api) {
  return api == kGeneral ? 29 : (api == kTargets || api == kAuxFeedback) ? 30 : 24;
}

double Seconds(uint32_t stamp_us) { return stamp_us * 0.000001; }

class PlotterOnBus : public ::testing::Test {
 protected:
  json Plot(uint32_t arbId, const Params& params = {}) {
    CANDeviceInterface1::DeviceDescriptor device{};
    device.arbId = arbId;
    json document = json::object();
    document["Error"] = plotter.ProcessUri(&device, params, document);
    return document;
  }

  // An 8-byte status frame of device `number` with the next time stamp, scrambled in `mode`.
  CanStreamMessage Status(uint32_t api, std::vector<uint8_t> bytes, uint8_t mode = 0,
                          uint32_t number = 1) {
    bytes.resize(8);
    CanStreamMessage frame = tessera_test::Frame(0x02040000 | api | number, bytes);
    // Mode 0 frames go out exactly as written, mode-field bits included.
    if (mode != 0)
      quor::tessera::sim::ScrambleStatusFrame(frame.data, ScrambleRoutine::kMotorController, mode,
                                              ModeBitOf(api), static_cast<uint8_t>(number));
    frame.timeStamp = stamp_us += 1000;
    return frame;
  }

  // Puts the frames on the bus and waits until the plotter has recorded the last one, which
  // must feed an enabled channel. Batches stay within what the stream holds between two ticks.
  void Feed(const std::vector<CanStreamMessage>& frames) {
    for (size_t i = 0; i < frames.size(); ++i) {
      bus.Bus().inject(frames[i]);
      if ((i + 1) % 32 != 0 && i + 1 != frames.size()) continue;
      const double last = Seconds(frames[i].timeStamp);
      ASSERT_TRUE(tessera_test::WaitUntil([&] { return NewestTime() == last; }, 3s, 1ms)) << i;
    }
  }

  double NewestTime() {
    const json points = Plot(target)["Points"];
    return points.empty() ? -1.0 : points.back()["Time"].get<double>();
  }

  // The handle of a stream opened (and closed) here: the session layer numbers every stream
  // opened, so two probes tell how many streams the plotter opened between them.
  static uint32_t ProbeHandle() {
    uint32_t handle = 0;
    int32_t status = 0;
    FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0, 0, 1, &status);
    FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle);
    return handle;
  }

  std::vector<CanStreamMessage> Generals(int count, uint32_t number = 1) {
    std::vector<CanStreamMessage> frames;
    for (int i = 0; i < count; ++i) frames.push_back(Status(kGeneral, {0, 0, 0, 0x02, 0x00}, 0, number));
    return frames;
  }

  tessera_test::BusRecorder bus;
  Plotter plotter;
  uint32_t target = kKestrel1;
  uint32_t stamp_us = 1000000;
};

// Each point's ordinal is one more than the point's before it.
void ExpectConsecutive(const json& points) {
  for (size_t i = 1; i < points.size(); ++i)
    EXPECT_EQ(points[i]["Ordinal"].get<int>(), points[i - 1]["Ordinal"].get<int>() + 1) << i;
}

}  // namespace

TEST_F(PlotterOnBus, EachStatusFrameGivesItsChannelsDescrambledAndScaled) {
  EXPECT_EQ(Plot(kKestrel1, {{"channels", "1023"}}),
            json::parse(R"({"Channels": 3, "Count": 0, "Error": 0, "Points": []})"));
  struct Row {
    uint32_t api;
    std::vector<uint8_t> bytes;  // plain
    uint8_t mode;                // scramble mode on the wire
    json channels;               // null: no point
    uint32_t number = 1;
  };
  const Row rows[] = {
      // No auxiliary feedback seen yet: the PID format is unknown, the frame is ignored.
      {kPid0, {0x00, 0x00, 0x10, 0, 0, 0, 0, 0}, 0, nullptr},
      {kGeneral, {0, 0, 0, 0x02, 0x00}, 0, nullptr, 2},  // another device
      {kQuadrature, {0, 0, 1, 0, 1}, 0, nullptr},        // feeds no channel
      {kGeneral, {0, 0, 0, 0x02, 0x00, 0, 0, 0}, 0, {{"MotorOutput", 512 / 1023.0}}},
      {kGeneral, {0, 0, 0, 0x04, 0x01, 0, 0, 0}, 2, {{"MotorOutput", -1.0}}},
      // Position 256 and velocity -10, both x8; supply current (0x28 << 2 | 2) / 8.
      {kFeedback, {0x00, 0x01, 0x00, 0xFF, 0xF6, 0x28, 0x80, 0x18}, 0,
       {{"SensorPos", 2048.0}, {"SensorVel", -80.0}, {"Current", 20.25}}},
      {kFeedback, {0x80, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xC0, 0x00}, 1,
       {{"SensorPos", -8388608.0}, {"SensorVel", 32767.0}, {"Current", 127.875}}},
      // A target velocity x8 beyond 16 bits is kept whole.
      {kTargets, {0x00, 0x10, 0x00, 0x7F, 0xFF, 0, 0, 0x01}, 0,
       {{"ActTrajPos", 4096.0}, {"ActTrajVel", 262136.0}}},
      // Scaled PID frames (selector d7.4 = 1): format 0, descrambled, 22-bit error x8 by d3.5.
      {kAuxFeedback, {0xFF, 0xFF, 0xFF, 0x00, 0x10, 0x80, 0, 0x10}, 0,
       {{"SensorPos1", -8.0}, {"SensorVel1", 16.0}}},
      {kPid0, {0x3F, 0xFF, 0xFE, 0x20, 0, 0, 0, 0}, 0, {{"CloseLoopErr0", -16.0}}},
      {kPid1, {0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0}, 1, {{"CloseLoopErr1", 256.0}}},
      // Plain PID frames (selector 0): format 1, read as received, 24-bit error; the low bits
      // of d7 are data here, not a scramble mode.
      {kAuxFeedback, {0x00, 0x00, 0x05, 0xFF, 0xFF, 0x40, 0, 0x00}, 0,
       {{"SensorPos1", 5.0}, {"SensorVel1", -8.0}}},
      {kPid0, {0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0x01}, 0, {{"CloseLoopErr0", -256.0}}},
      {kGeneral, {0, 0, 0, 0, 0, 0, 0, 0}, 0, {{"MotorOutput", 0.0}}},
  };
  std::vector<CanStreamMessage> frames;
  json expected = json::array();
  for (const Row& row : rows) {
    frames.push_back(Status(row.api, row.bytes, row.mode, row.number));
    if (row.channels.is_null()) continue;
    json point = row.channels;
    point["Time"] = Seconds(frames.back().timeStamp);
    expected.push_back(point);
  }
  Feed(frames);
  json points = Plot(kKestrel1)["Points"];
  ASSERT_EQ(points.size(), expected.size()) << points.dump(1);
  ExpectConsecutive(points);
  for (json& point : points) point.erase("Ordinal");
  EXPECT_EQ(points, expected);
}

TEST_F(PlotterOnBus, BufferKeepsFiftyPointsPerChannelBitNewestLast) {
  Plot(kKestrel1, {{"channels", "1"}});
  Feed(Generals(60));
  json answer = Plot(kKestrel1);
  ASSERT_EQ(answer["Count"], 50);
  EXPECT_EQ(answer["Points"].front()["Time"], Seconds(stamp_us - 49 * 1000));
  ExpectConsecutive(answer["Points"]);

  // Bits 1-3: the feedback frame only, three channels per point, room for 150.
  EXPECT_EQ(Plot(kKestrel1, {{"channels", "14"}})["Channels"], 1);
  std::vector<CanStreamMessage> mixed;
  for (int i = 0; i < 160; ++i) {
    mixed.push_back(Status(kGeneral, {0, 0, 0, 0, 0x10}));
    mixed.push_back(Status(kFeedback, {0, 0, static_cast<uint8_t>(i), 0, 1, 0, 0, 0}));
  }
  Feed(mixed);
  answer = Plot(kKestrel1);
  ASSERT_EQ(answer["Count"], 150);
  for (const json& point : answer["Points"]) {
    EXPECT_EQ(point.size(), 5u) << point.dump();
    EXPECT_EQ(point["SensorVel"], 1.0);
  }
  EXPECT_EQ(answer["Points"].back()["SensorPos"], 159.0);

  // From ten bits down to one: this answer still shows them all, the next only the newest 50.
  Plot(kKestrel1, {{"channels", "1023"}});
  Feed(Generals(100));
  answer = Plot(kKestrel1, {{"channels", "1"}});
  EXPECT_EQ(answer["Count"], 250);
  EXPECT_EQ(answer["Channels"], 1023);
  answer = Plot(kKestrel1);
  EXPECT_EQ(answer["Count"], 50);
  EXPECT_EQ(answer["Points"].back()["Time"], Seconds(stamp_us));
  EXPECT_EQ(answer["Points"].front()["MotorOutput"], 512 / 1023.0);

  // Absent or negative channels change nothing; unreadable ones read as 0: nothing is kept.
  const std::pair<Params, int> masks[] = {
      {{}, 1}, {{{"channels", "-5"}}, 1}, {{{"channels", "99999999999"}}, 2147483647},
      {{{"channels", "abc"}}, 0}, {{{"channels", "1"}}, 1}};
  for (const auto& [params, mask] : masks) Plot(kKestrel1, params);
  EXPECT_EQ(Plot(kKestrel1)["Channels"], 1);
  EXPECT_EQ(Plot(kKestrel1)["Count"], 0);
  for (const auto& [params, mask] : masks) {
    Plot(kKestrel1, params);
    EXPECT_EQ(Plot(kKestrel1)["Channels"], mask) << json(params).dump();
  }
}

TEST_F(PlotterOnBus, OnlyMotorControllersAreTargetsAndTheLatestOneAlone) {
  EXPECT_EQ(Plot(kPdp, {{"channels", "1"}}),
            json::parse(R"({"Channels": 3, "Count": 0, "Error": -125, "Points": []})"));
  const uint32_t probe = ProbeHandle();
  EXPECT_EQ(Plot(kKestrel1, {{"channels", "1"}})["Channels"], 3);
  // Every further request for the same device (Feed polls) keeps the stream it opened.
  Feed(Generals(5));
  EXPECT_EQ(ProbeHandle(), probe + 2);

  // The buffer keeps the first device's points; its frames are no longer read.
  target = kKestrel2;
  EXPECT_EQ(Plot(kKestrel2)["Count"], 5);
  EXPECT_EQ(ProbeHandle(), probe + 4);  // one stream more, for the new device
  std::vector<CanStreamMessage> both = Generals(3, 1);
  for (const CanStreamMessage& frame : Generals(2, 2)) both.push_back(frame);
  Feed(both);
  json points = Plot(kKestrel2)["Points"];
  ASSERT_EQ(points.size(), 7u);
  EXPECT_EQ(points[4]["Time"], Seconds(both[0].timeStamp - 1000));
  EXPECT_EQ(points[5]["Time"], Seconds(both[3].timeStamp));
  ExpectConsecutive(points);

  // A Harrier is a motor controller too.
  target = 0x01040003;
  EXPECT_EQ(Plot(target)["Error"], 0);
}

TEST_F(PlotterOnBus, StreamLostToTheSessionLayerIsOpenedAgain) {
  Plot(kKestrel1, {{"channels", "1"}});
  Feed(Generals(1));
  CanMuxDispose();  // closes every session
  const size_t before = Plot(kKestrel1)["Count"];
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] {
        bus.Bus().inject(Generals(1).front());
        return Plot(kKestrel1)["Count"] > before;
      },
      3s, 20ms));
}

TEST_F(PlotterOnBus, ClosedPlotterForgetsEverythingAndRefusesUntilOpened) {
  Plot(kKestrel1, {{"channels", "14"}});
  std::vector<CanStreamMessage> feedback = {Status(kFeedback, {0, 0, 1, 0, 0, 0, 0, 0})};
  Feed(feedback);
  plotter.Close();
  EXPECT_EQ(Plot(kKestrel1, {{"channels", "1"}}),
            json::parse(R"({"Channels": 3, "Count": 0, "Error": -100, "Points": []})"));
  // Without a stream nothing is read: the frame is gone by the time the plotter opens again.
  bus.Bus().inject(Status(kGeneral, {0, 0, 0, 0, 1}));
  EXPECT_FALSE(tessera_test::WaitUntil([&] { return Plot(kKestrel1)["Count"] > 0; }, 100ms, 5ms));

  plotter.Open();
  EXPECT_EQ(Plot(kKestrel1, {{"channels", "1"}})["Count"], 0);
  Feed(Generals(1));
  EXPECT_EQ(Plot(kKestrel1)["Count"], 1);
}
