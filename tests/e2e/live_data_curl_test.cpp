// Driving and plotting a simulated motor through the real host with curl: "control" repeated
// for a second at half output while "plot" is polled, then the run-out after the last request.
// Frame time stamps and this test read the same monotonic clock (microseconds, wrapping).
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

constexpr char kDrive[] =
    "action=control&model=kestrel+kx&id=1&controlmode=0&demand0=512&controlen=true&"
    "nonfrcroboten=true";
constexpr char kPlot[] = "action=plot&model=kestrel+kx&id=1&channels=15";  // bits 0-3
constexpr double kHalfOutput = 512 / 1023.0;

std::string Curl(const ServerProcess& server, const std::string& query) {
  return tessera_test::RunCommand("curl -s --max-time 10 '" + server.url(query) + "'");
}
json CurlJson(const ServerProcess& server, const std::string& query) {
  return json::parse(Curl(server, query), nullptr, false);
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
  // The stamp of the first neutral output after a half output, both stamped after `from`: the
  // motor stopped. (Should the machine stall the requests past a run-out, the motor stops and
  // starts again before the last one; that early stop is not the one this looks for.)
  std::optional<uint32_t> Stop(uint32_t from) const {
    bool driven = false;
    for (const auto& [stamp, output] : Channel("MotorOutput", from)) {
      if (std::fabs(output - kHalfOutput) < 1e-9) driven = true;
      if (driven && output == 0.0) return stamp;
    }
    return std::nullopt;
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
  std::atomic<bool> driving{true};
  uint32_t lastSent = 0, lastAnswered = 0;
  json lastAnswer;
  std::thread driver([&] {
    // One curl, fifty requests over one kept-alive connection, at most fifty a second.
    std::string urls;
    for (int i = 0; i < 50; ++i) urls += " '" + server.url(kDrive) + "'";
    tessera_test::RunCommand("curl -s --max-time 20 --rate 50/s" + urls);
    // The last request, timed and right after the others: the frames run out 90 ms after it,
    // the device's own 100 ms later.
    lastSent = Now_us();
    lastAnswer = CurlJson(server, kDrive);
    lastAnswered = Now_us();
    driving = false;
  });
  while (driving) {
    log.Take(CurlJson(server, kPlot));
    std::this_thread::sleep_for(100ms);  // the polling period of a plotting tool
  }
  driver.join();
  ASSERT_EQ(lastAnswer["GeneralReturn"]["Error"], 0);
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] {
        log.Take(CurlJson(server, kPlot));
        return log.Stop(lastSent).has_value();
      },
      5s, 50ms));

  EXPECT_GT(log.answers, 5);
  EXPECT_EQ(log.gaps, 0);
  const auto outputs = log.Channel("MotorOutput", driveStart);
  ASSERT_FALSE(outputs.empty());
  EXPECT_TRUE(std::any_of(outputs.begin(), outputs.end(),
                          [](const auto& o) { return std::fabs(o.second - kHalfOutput) < 1e-9; }));
  const auto velocities = log.Channel("SensorVel", driveStart);
  ASSERT_GE(velocities.size(), 2u);
  double fastest = 0;
  for (const auto& v : velocities) fastest = std::max(fastest, v.second);
  EXPECT_GT(fastest, velocities.front().second + 1000) << "the motor turns faster";

  // Half output until the run-outs end, then neutral.
  const std::optional<uint32_t> zero = log.Stop(lastSent);
  ASSERT_TRUE(zero);
  bool driven = false;
  for (const auto& [stamp, output] : log.Channel("MotorOutput", lastSent)) {
    if (Since_us(stamp, *zero) >= 0) break;
    driven = driven || std::fabs(output - kHalfOutput) < 1e-9;
    if (driven) {
      EXPECT_NEAR(output, kHalfOutput, 1e-9);
    }
  }
  EXPECT_GE(Since_us(*zero, lastSent), 150000) << "stopped before the run-outs ended";
  EXPECT_LE(Since_us(*zero, lastAnswered), 1000000);
  std::cout << "output back to 0 " << Since_us(*zero, lastAnswered) / 1000
            << " ms after the last answer\n";
}
