// Driving and plotting a simulated motor through the real host with curl: "control" repeated
// for a second or more while "plot" is polled and the device's self-test read, then the run-out
// after the last request. Every field of the request holds a value whose bytes read differently
// in the wrong order, and the simulated motor acts on what its status frames can show: demand 0
// plus demand 1 as a feed-forward make the output, and the self-test shows voltage compensation,
// both profile slots and the inverted direction. Frame time stamps and this test read the same
// monotonic clock (microseconds, wrapping).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iostream>
#include <map>
#include <optional>
#include <thread>

#include "runtime/monotonic_clock.h"
#include "tests/e2e/expected_listing.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using tessera_test::ServerProcess;

// Demand 0 is 00 01 D0, demand 1 (-150) FF DA and 2 in d5's top bits; d7 is 0x49; the frame's
// check bit is 1, so a misplaced check bit shows.
constexpr char kDrive[] =
    "action=control&model=kestrel+kx&id=1&controlmode=0&demand0=464&demand1=-150&"
    "enablearbfeedfwddem1=1&enablevoltagecompen=1&profileslotselect0=1&profileslotselect1=2&"
    "invertdirection=1&controlen=true&nonfrcroboten=true";
constexpr char kPlot[] = "action=plot&model=kestrel+kx&id=1&channels=15";  // bits 0-3
constexpr char kSelfTest[] = "action=selftest&model=kestrel+kx&id=1";
// Percent output: (demand 0 + feed-forward) of 1023; on the 12 V bus 3.68 V.
constexpr double kDrivenOutput = (464 - 150) / 1023.0;
// The self-test lines the request decides, each after its heading.
const std::pair<const char*, const char*> kDrivenLines[] = {
    {"", "Mode:0:PercentOutput | Output:30.69% [3.68 V]\n"},
    {"", "Motor Leads (Inverted): M+: 0 V  M-: 3.68V\n"},
    {"", "VCompEn:T CurrLimited:F\n"},
    {"PID0 (primary)\n", "  Slot Select: 1\n"},
    {"PID1 (aux)\n", "  Slot Select: 2\n"},
};

std::string Curl(const ServerProcess& server, const std::string& query) {
  return tessera_test::RunCommand("curl -s --max-time 10 '" + server.url(query) + "'");
}
json CurlJson(const ServerProcess& server, const std::string& query) {
  return json::parse(Curl(server, query), nullptr, false);
}

// True when every driven line follows its heading in the report.
bool ShowsDrivenState(const std::string& report) {
  for (const auto& [heading, line] : kDrivenLines) {
    const size_t at = report.find(heading);
    if (at == std::string::npos || report.find(line, at) == std::string::npos) return false;
  }
  return true;
}

uint32_t Now_us() { return static_cast<uint32_t>(quor::tessera::runtime::MonotonicMicros()); }
uint32_t Stamp_us(const json& point) {
  return static_cast<uint32_t>(std::llround(point["Time"].get<double>() * 1e6));
}
int64_t Since_us(uint32_t later, uint32_t earlier) { return static_cast<int32_t>(later - earlier); }

// Every point the polls saw, by ordinal; within one answer the ordinals must follow each other.
struct PlotLog {
  std::map<int64_t, json> points;
  int answers = 0;
  int gaps = 0;

  void Take(const json& answer) {
    if (answer.is_discarded() || answer["GeneralReturn"]["Error"] != 0) return;
    ++answers;
    const json& list = answer["Points"];
    for (size_t i = 0; i < list.size(); ++i) {
      if (i > 0 && list[i]["Ordinal"] != list[i - 1]["Ordinal"].get<int64_t>() + 1) ++gaps;
      points[list[i]["Ordinal"].get<int64_t>()] = list[i];
    }
  }
  // The stamp of the last neutral output that follows a driven one, both stamped after `from`:
  // where the motor stopped for good. (A machine that holds the last request up past a run-out
  // stops the motor, and the request starts it again; only the last stop follows its run-outs.)
  std::optional<uint32_t> FinalStop(uint32_t from) const {
    std::optional<uint32_t> stop;
    bool driven = false;
    for (const auto& [stamp, output] : Channel("MotorOutput", from)) {
      if (std::fabs(output - kDrivenOutput) < 1e-9) {
        driven = true;
        stop.reset();
      } else if (driven && output == 0.0) {
        driven = false;
        stop = stamp;
      }
    }
    return stop;
  }
  // The stamp of the newest point.
  std::optional<uint32_t> Newest() const {
    if (points.empty()) return std::nullopt;
    return Stamp_us(points.rbegin()->second);
  }
  // The values of one channel from points stamped after `from`, oldest first.
  std::vector<std::pair<uint32_t, double>> Channel(const char* name, uint32_t from) const {
    std::vector<std::pair<uint32_t, double>> values;
    for (const auto& [ordinal, point] : points)
      if (point.contains(name) && Since_us(Stamp_us(point), from) > 0)
        values.emplace_back(Stamp_us(point), point[name].get<double>());
    return values;
  }
};

}  // namespace

TEST(LiveDataThroughHost, DriveASimulatedMotorAndPlotItWithCurl) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();

  const json listing = tessera_test::WaitForListing(
      server.port(),
      [](const json& l) {
        return !tessera_test::FindEntry(l, "Kestrel KX", 1).is_null() &&
               !tessera_test::FindEntry(l, "PDP", 0).is_null();
      },
      60s);
  ASSERT_FALSE(tessera_test::FindEntry(listing, "Kestrel KX", 1).is_null()) << listing.dump(1);
  ASSERT_FALSE(tessera_test::FindEntry(listing, "PDP", 0).is_null()) << listing.dump(1);

  // No plot yet, and a device that is no motor controller: the answer as a whole.
  EXPECT_EQ(Curl(server, "action=plot&model=pdp&id=0&channels=1"), R"({
    "Channels": 3,
    "Count": 0,
    "GeneralReturn": {
        "Action": "plot",
        "Error": -125,
        "ErrorMessage": "QUOR_DI_FeatureNotSupported",
        "ID": 0,
        "Model": "pdp"
    },
    "Points": []
})");

  PlotLog log;
  log.Take(CurlJson(server, kPlot));
  const uint32_t driveStart = Now_us();
  std::atomic<bool> keepDriving{true}, driving{true};
  uint32_t lastSent = 0, lastAnswered = 0;
  json lastAnswer;
  std::thread driver([&] {
    // One curl per ten requests over one kept-alive connection, at most fifty a second, until
    // a second has passed, the plot was read a few times and the self-test showed the drive.
    std::string urls;
    for (int i = 0; i < 10; ++i) urls += " '" + server.url(kDrive) + "'";
    while (keepDriving) tessera_test::RunCommand("curl -s --max-time 20 --rate 50/s" + urls);
    // The last request, timed and right after the others: the frames run out 90 ms after it,
    // the device's own 100 ms later.
    lastSent = Now_us();
    lastAnswer = CurlJson(server, kDrive);
    lastAnswered = Now_us();
    driving = false;
  });
  std::string selfTest;
  bool selfTestShowedDrive = false;
  const auto driveDeadline = std::chrono::steady_clock::now() + 20s;
  while (driving) {
    log.Take(CurlJson(server, kPlot));
    if (!selfTestShowedDrive && !log.Channel("MotorOutput", driveStart).empty()) {
      const json answer = CurlJson(server, kSelfTest);
      selfTest = answer.is_object() ? answer.value("SelfTest", "") : "";
      selfTestShowedDrive = ShowsDrivenState(selfTest);
    }
    keepDriving = std::chrono::steady_clock::now() < driveDeadline &&
                  (Since_us(Now_us(), driveStart) < 1000000 || log.answers <= 5 ||
                   !selfTestShowedDrive);
    std::this_thread::sleep_for(100ms);  // the polling period of a plotting tool
  }
  driver.join();
  EXPECT_TRUE(selfTestShowedDrive) << selfTest;
  ASSERT_EQ(lastAnswer["GeneralReturn"]["Error"], 0);
  // Read on until well past the run-outs of the last request, which ends before its answer.
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] {
        log.Take(CurlJson(server, kPlot));
        return log.FinalStop(lastSent) && log.Newest() &&
               Since_us(*log.Newest(), lastAnswered) > 500000;
      },
      5s, 50ms));

  EXPECT_GT(log.answers, 5);
  EXPECT_EQ(log.gaps, 0);
  const auto outputs = log.Channel("MotorOutput", driveStart);
  ASSERT_FALSE(outputs.empty());
  EXPECT_TRUE(std::any_of(outputs.begin(), outputs.end(), [](const auto& o) {
    return std::fabs(o.second - kDrivenOutput) < 1e-9;
  }));
  const auto velocities = log.Channel("SensorVel", driveStart);
  ASSERT_GE(velocities.size(), 2u);
  double fastest = 0;
  for (const auto& v : velocities) fastest = std::max(fastest, v.second);
  EXPECT_GT(fastest, velocities.front().second + 1000) << "the motor turns faster";

  // The driven output until the run-outs end, then neutral: no other output on the way.
  const std::optional<uint32_t> zero = log.FinalStop(lastSent);
  ASSERT_TRUE(zero);
  for (const auto& [stamp, output] : log.Channel("MotorOutput", lastSent)) {
    if (output != 0.0) {
      EXPECT_NEAR(output, kDrivenOutput, 1e-9);
    }
  }
  EXPECT_GE(Since_us(*zero, lastSent), 150000) << "stopped before the run-outs ended";
  EXPECT_LE(Since_us(*zero, lastAnswered), 1000000);
  std::cout << "output back to 0 " << Since_us(*zero, lastAnswered) / 1000
            << " ms after the last answer\n";
}
