// Direct control on the virtual bus: the frames the control thread puts on the bus after
// "control" requests, written out by hand from the frame layout; check bits by the documented
// rule (tests/support/control_check_bit.h).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device/device_descriptor.h"
#include "live/control.h"
#include "sim/device_file.h"
#include "sim/sim_backend.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/control_check_bit.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using quor::tessera::diagnostics::Control;
using tessera_test::Bytes;
using Params = std::map<std::string, std::string>;
using Frames = std::vector<CanStreamMessage>;

constexpr uint32_t kEnableId = 0x000401BF;
constexpr uint32_t kRunOutFrames = 9;
// Long enough for a tenth tick to have come, were there one.
constexpr auto kQuiet = 200ms;

CANDeviceInterface1::DeviceDescriptor Device(uint32_t arbId) {
  CANDeviceInterface1::DeviceDescriptor device{};
  device.arbId = arbId;
  return device;
}
uint32_t Kestrel(uint32_t number) { return 0x02040000 | number; }
uint32_t ControlId(uint32_t number) { return 0x02040200 | number; }

// The hand-written frame with its check bit (d6 bit 4) set as the devices expect.
std::vector<uint8_t> Checked(std::vector<uint8_t> d) {
  if (tessera_test::ExpectedCheckBit(d.data())) d[6] |= 0x10;
  return d;
}

Params Driving(Params extra) {
  extra.emplace("controlen", "true");
  return extra;
}

// Waits until `count` frames of `id` were sent; the frames of that ID so far.
Frames WaitForFrames(const tessera_test::RecordingEndpoint& bus, uint32_t id, size_t count) {
  tessera_test::WaitUntil([&] { return bus.framesWithId(id).size() >= count; }, 3s, 1ms);
  return bus.framesWithId(id);
}

// True when no frame of `id` beyond `count` comes within kQuiet.
bool NoMoreThan(const tessera_test::RecordingEndpoint& bus, uint32_t id, size_t count) {
  return !tessera_test::WaitUntil([&] { return bus.framesWithId(id).size() > count; }, kQuiet, 1ms);
}

}  // namespace

TEST(Control, OneRequestSendsNineControlFramesTenMsApartEachFollowedByTheEnableFrame) {
  tessera_test::BusRecorder bus;
  Control control;
  const auto kx = Device(Kestrel(1));
  ASSERT_EQ(control.ProcessUri(&kx, Driving({{"nonfrcroboten", "true"}, {"demand0", "512"}})), 0);
  ASSERT_EQ(WaitForFrames(bus, kEnableId, kRunOutFrames).size(), kRunOutFrames);
  EXPECT_TRUE(NoMoreThan(bus, ControlId(1), kRunOutFrames));

  const Frames sent = bus.frames();
  ASSERT_EQ(sent.size(), 2 * kRunOutFrames);
  for (size_t i = 0; i < sent.size(); i += 2) {
    EXPECT_EQ(sent[i].messageID, ControlId(1)) << i;
    EXPECT_EQ(Bytes(sent[i]), Checked({0x00, 0x02, 0x00, 0, 0, 0, 0, 0})) << i;
    EXPECT_EQ(sent[i + 1].messageID, kEnableId) << i;
    EXPECT_EQ(Bytes(sent[i + 1]), (std::vector<uint8_t>{0x01, 0x00})) << i;
    // The next tick starts a full period after this one ended.
    if (i > 0) {
      EXPECT_GE(sent[i].timeStamp - sent[i - 2].timeStamp, 10000u) << i;
    }
  }
}

TEST(Control, EachSendFlagDecidesItsOwnFrame) {
  tessera_test::BusRecorder bus;
  Control control;
  struct Case {
    const char* controlEn;
    const char* enableFrames;
    size_t controlFrames;
    size_t enableFramesSent;
  };
  // The flags read the words true and false only; "1" is not true.
  const Case cases[] = {
      {"true", "false", kRunOutFrames, 0},
      {"false", "true", 0, kRunOutFrames},
      {"1", "1", 0, 0},
  };
  uint32_t number = 1;
  for (const Case& c : cases) {
    bus.clear();
    const auto kx = Device(Kestrel(number));
    ASSERT_EQ(control.ProcessUri(&kx, {{"controlen", c.controlEn}, {"nonfrcroboten", c.enableFrames}}), 0);
    if (c.controlFrames + c.enableFramesSent > 0)
      WaitForFrames(bus, c.controlFrames ? ControlId(number) : kEnableId, kRunOutFrames);
    EXPECT_TRUE(NoMoreThan(bus, kEnableId, c.enableFramesSent)) << c.controlEn << c.enableFrames;
    EXPECT_EQ(bus.framesWithId(ControlId(number)).size(), c.controlFrames);
    EXPECT_EQ(bus.framesWithId(kEnableId).size(), c.enableFramesSent);
    ++number;
  }
}

TEST(Control, EveryFieldIsPackedInPlace) {
  tessera_test::BusRecorder bus;
  Control control;
  struct Case {
    Params params;
    std::vector<uint8_t> bytes;  // without the check bit
  };
  const Case cases[] = {
      {{{"demand0", "-1"}}, {0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}},
      {{{"demand0", "1193046"}}, {0x12, 0x34, 0x56, 0, 0, 0, 0, 0}},
      {{{"demand0", "-8388608"}}, {0x80, 0x00, 0x00, 0, 0, 0, 0, 0}},
      {{{"demand0", "8388607"}}, {0x7F, 0xFF, 0xFF, 0, 0, 0, 0, 0}},
      {{{"demand1", "1023"}}, {0, 0, 0, 0x00, 0xFF, 0xC0, 0, 0}},
      {{{"demand1", "-2"}}, {0, 0, 0, 0xFF, 0xFF, 0x80, 0, 0}},
      {{{"demand1", "66049"}}, {0, 0, 0, 0x40, 0x80, 0x40, 0, 0}},  // 0x10201
      {{{"demand1", "-131072"}}, {0, 0, 0, 0x80, 0x00, 0x00, 0, 0}},
      {{{"demand1", "131071"}}, {0, 0, 0, 0x7F, 0xFF, 0xC0, 0, 0}},
      {{{"controlmode", "2"}}, {0, 0, 0, 0, 0, 0x02, 0, 0}},
      {{{"controlmode", "15"}, {"enablevoltagecompen", "1"}}, {0, 0, 0, 0, 0, 0x1F, 0, 0}},
      {{{"overridesensorphase", "1"}, {"overrideinvert", "1"}, {"invertstrategy", "1"},
        {"enableauxpid1", "1"}, {"enablearbfeedfwddem1", "1"}},
       {0, 0, 0, 0, 0, 0, 0x67, 0}},
      {{{"profileslotselect0", "3"}, {"profileslotselect1", "2"}, {"encurrentlimit", "1"},
        {"invertdirection", "1"}, {"sensorphase0", "1"}},
       {0, 0, 0, 0, 0, 0, 0, 0xDB}},
      // Unreadable values read as 0; a number followed by text as the number.
      {{{"demand0", "abc"}, {"controlmode", "2abc"}}, {0, 0, 0, 0, 0, 0x02, 0, 0}},
  };
  uint32_t number = 1;
  for (const Case& c : cases) {
    const auto kx = Device(Kestrel(number));
    ASSERT_EQ(control.ProcessUri(&kx, Driving(c.params)), 0);
    const Frames sent = WaitForFrames(bus, ControlId(number), 1);
    ASSERT_FALSE(sent.empty()) << number;
    EXPECT_EQ(Bytes(sent.front()), Checked(c.bytes)) << "case " << number;
    ++number;
  }
}

// A value its field cannot hold is refused, never cut to its low bits, for the flags and
// profile slots as for the demands and the mode (whose edges the simulated motor below takes).
TEST(Control, AValueBeyondItsFieldIsRefusedAndNothingOfItGoesOut) {
  tessera_test::BusRecorder bus;
  Control control;
  const auto kx = Device(Kestrel(1));
  const Params refused[] = {
      {{"overrideinvert", "3"}},     {{"enableauxpid1", "2"}},
      {{"overrideinvert", "-2"}},    {{"profileslotselect0", "4"}},
      {{"profileslotselect1", "-1"}}, {{"sensorphase0", "99999999999"}},
  };
  for (const Params& p : refused) {
    EXPECT_EQ(control.ProcessUri(&kx, Driving(p)), -125) << p.begin()->first;
  }
  EXPECT_TRUE(NoMoreThan(bus, ControlId(1), 0));
}

TEST(Control, CheckBitFollowsEveryChangeAndRepeatsKeepTheFrameGoing) {
  tessera_test::BusRecorder bus;
  Control control;
  const auto kx = Device(Kestrel(1));
  const std::vector<uint8_t> a = Checked({0, 0, 0, 0, 0, 0, 0, 0});
  const std::vector<uint8_t> b = Checked({0, 0x02, 0x00, 0, 0, 0, 0, 0});
  ASSERT_NE(a[6], b[6]) << "the two frames must differ in their check bits";
  const Params pairs[] = {{{"demand0", "512"}}, {{"demand0", "0"}}, {{"demand0", "0"}},
                          {{"demand0", "512"}}, {{"demand0", "512"}}};
  for (const Params& p : pairs) {
    ASSERT_EQ(control.ProcessUri(&kx, Driving(p)), 0);
    const std::vector<uint8_t> expected = p.at("demand0") == "0" ? a : b;
    EXPECT_TRUE(tessera_test::WaitUntil(
        [&] {
          const Frames sent = bus.framesWithId(ControlId(1));
          return !sent.empty() && Bytes(sent.back()) == expected;
        },
        3s, 1ms));
  }
  size_t total = 0;
  do total = bus.framesWithId(ControlId(1)).size();
  while (!NoMoreThan(bus, ControlId(1), total));
  for (const CanStreamMessage& f : bus.framesWithId(ControlId(1)))
    EXPECT_TRUE(Bytes(f) == a || Bytes(f) == b) << "stale check bit on " << int{f.data[1]};
  // The requests came at least a tick apart, so together they outlast a single one.
  EXPECT_GT(total, kRunOutFrames);
}

TEST(Control, OnlyMotorControllersAreDrivenAndTheLatestOneAlone) {
  tessera_test::BusRecorder bus;
  Control control;
  const auto kx1 = Device(Kestrel(1));
  const auto kx2 = Device(Kestrel(2));
  const auto pcm = Device(0x09040000);
  const auto harrier = Device(0x01040003);
  ASSERT_EQ(control.ProcessUri(&kx1, Driving({})), 0);
  // Refused without touching the running control, which runs out its nine frames.
  EXPECT_EQ(control.ProcessUri(&pcm, Driving({{"demand0", "7"}})), -125);
  EXPECT_EQ(WaitForFrames(bus, ControlId(1), kRunOutFrames).size(), kRunOutFrames);
  EXPECT_TRUE(NoMoreThan(bus, ControlId(1), kRunOutFrames));
  for (const CanStreamMessage& f : bus.frames()) EXPECT_EQ(f.messageID, ControlId(1));

  // A new device takes over at once; the old one hears nothing more.
  ASSERT_EQ(control.ProcessUri(&kx1, Driving({})), 0);
  WaitForFrames(bus, ControlId(1), kRunOutFrames + 1);
  ASSERT_EQ(control.ProcessUri(&kx2, Driving({})), 0);
  ASSERT_EQ(WaitForFrames(bus, ControlId(2), 1).size(), 1u);
  const size_t toFirst = bus.framesWithId(ControlId(1)).size();
  EXPECT_EQ(WaitForFrames(bus, ControlId(2), kRunOutFrames).size(), kRunOutFrames);
  EXPECT_EQ(bus.framesWithId(ControlId(1)).size(), toFirst);

  ASSERT_EQ(control.ProcessUri(&harrier, Driving({})), 0);
  EXPECT_EQ(WaitForFrames(bus, 0x01040203, 1).size(), 1u);
}

TEST(Control, ClosedControlSendsNothingAndRefusesUntilOpened) {
  tessera_test::BusRecorder bus;
  Control control;
  const auto kx = Device(Kestrel(1));
  ASSERT_EQ(control.ProcessUri(&kx, Driving({{"nonfrcroboten", "true"}})), 0);
  ASSERT_EQ(WaitForFrames(bus, ControlId(1), 2).size(), 2u);
  control.Close();
  const size_t atClose = bus.count();
  EXPECT_EQ(control.ProcessUri(&kx, Driving({})), -123);
  EXPECT_FALSE(tessera_test::WaitUntil([&] { return bus.count() > atClose; }, kQuiet, 1ms));

  control.Open();
  bus.clear();
  ASSERT_EQ(control.ProcessUri(&kx, Driving({})), 0);
  EXPECT_EQ(WaitForFrames(bus, ControlId(1), kRunOutFrames).size(), kRunOutFrames);
  EXPECT_TRUE(NoMoreThan(bus, ControlId(1), kRunOutFrames));
  EXPECT_TRUE(bus.framesWithId(kEnableId).empty());  // the old request's flags are forgotten
}

// A simulated Kestrel KX driven at and beyond the edges of each field: what is accepted turns the
// motor the way it was asked (saturated at full output), what is refused never reaches it.
class ControlOfASimulatedMotor : public ::testing::Test {
 protected:
  static constexpr int kBaselineOutput = 100;
  static constexpr uint32_t kGeneralId = 0x020401C1;

  ControlOfASimulatedMotor() {
    using namespace quor::tessera::sim;
    DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
    kx.state.broadcast.scramble = ScramblePolicy::kPlain;  // general frames read as they come
    bus_ = std::make_shared<SimBackend>(std::vector<DeviceAttributes>{kx});
    bus_->attach(&seen_);
    CanMux_SetBackend(bus_);
  }
  ~ControlOfASimulatedMotor() override {
    CanMux_SetBackend(nullptr);
    bus_->detach(&seen_);
  }

  struct Reported {
    int output;  // of 1023
    int mode;
  };
  // What the device's general frames reported from the `from`th frame on the bus.
  std::vector<Reported> ReportedSince(size_t from) const {
    const Frames frames = seen_.frames();
    std::vector<Reported> reported;
    for (size_t i = from; i < frames.size(); ++i) {
      if (frames[i].messageID != kGeneralId) continue;
      const uint8_t* d = frames[i].data;
      const int raw = (d[3] & 0x7) << 8 | d[4];  // signed 11 bits
      reported.push_back({raw >= 1024 ? raw - 2048 : raw, d[5] & 0x0F});
    }
    return reported;
  }
  bool WaitForReport(int output, int mode, size_t from) const {
    return tessera_test::WaitUntil(
        [&] {
          for (const Reported& r : ReportedSince(from))
            if (r.output == output && r.mode == mode) return true;
          return false;
        },
        3s, 1ms);
  }

  std::shared_ptr<quor::tessera::sim::SimBackend> bus_;
  tessera_test::RecordingEndpoint seen_;
  Control control_;
  const CANDeviceInterface1::DeviceDescriptor kx_ = Device(Kestrel(1));
};

TEST_F(ControlOfASimulatedMotor, FieldEdgesDriveTheMotorAndValuesBeyondThemAreRefused) {
  const Params feedForward = {{"enablearbfeedfwddem1", "1"}};
  const auto with = [](Params params, const Params& extra) {
    params.insert(extra.begin(), extra.end());
    return params;
  };
  struct Case {
    Params params;
    int code;
    int output = 0;  // reported, of 1023, when accepted
    int mode = 0;
  };
  const Case cases[] = {
      {{{"demand0", "-8388608"}}, 0, -1023, 0},
      {{{"demand0", "8388607"}}, 0, 1023, 0},
      {{{"demand0", "-8388609"}}, -125},
      {{{"demand0", "8388608"}}, -125},     // was 80 00 00: full reverse
      {{{"demand0", "99999999999"}}, -125},  // was FF FF FF
      {with({{"demand1", "-131072"}}, feedForward), 0, -1023, 0},
      {with({{"demand1", "131071"}}, feedForward), 0, 1023, 0},
      {with({{"demand1", "-131073"}}, feedForward), -125},
      {with({{"demand1", "131072"}}, feedForward), -125},
      {{{"controlmode", "15"}, {"demand0", "700"}}, 0, 0, 15},  // "No Drive"
      {{{"controlmode", "16"}, {"demand0", "700"}}, -125},      // was percent output
      {{{"controlmode", "18"}, {"demand0", "700"}}, -125},      // was velocity
      {{{"controlmode", "-1"}}, -125},
  };
  const Params baseline = {{"demand0", std::to_string(kBaselineOutput)}, {"nonfrcroboten", "true"}};
  for (const Case& c : cases) {
    const std::string name = c.params.begin()->first + "=" + c.params.begin()->second;
    size_t from = seen_.count();
    ASSERT_EQ(control_.ProcessUri(&kx_, Driving(baseline)), 0);
    ASSERT_TRUE(WaitForReport(kBaselineOutput, 0, from)) << name;
    from = seen_.count();
    const std::vector<uint8_t> baselineFrame = Bytes(WaitForFrames(seen_, ControlId(1), 1).back());
    EXPECT_EQ(control_.ProcessUri(&kx_, Driving(with(c.params, {{"nonfrcroboten", "true"}}))),
              c.code)
        << name;
    if (c.code == 0) {
      EXPECT_TRUE(WaitForReport(c.output, c.mode, from)) << name;
      continue;
    }
    // The baseline runs out its ticks and the motor stops; it never showed anything else.
    EXPECT_TRUE(WaitForReport(0, 0, from)) << name;
    for (const Reported& r : ReportedSince(from))
      EXPECT_TRUE((r.output == kBaselineOutput || r.output == 0) && r.mode == 0) << name;
    const Frames frames = seen_.frames();
    for (size_t i = from; i < frames.size(); ++i) {
      if (frames[i].messageID == ControlId(1)) {
        EXPECT_EQ(Bytes(frames[i]), baselineFrame) << name;
      }
    }
  }
}
