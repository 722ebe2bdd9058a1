// The server on a bus that loses frames, both ways, at 1 % and at 5 %: what must still hold.
//  - The listing never loses a healthy device for longer than a poll cycle allows.
//  - A firmware upgrade succeeds (the device runs the new image) or fails with a code, and a
//    second upgrade on a healthy bus brings the device back to a running application.
//  - A configuration write lands whole or reports a failure: the device's image is compared.
//  - "control" stops the motor when the requests stop, and when the frames stop.
// One run of each per loss; TESSERA_LOSSY_RUNS=N runs each N times and prints the counts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "server/search_dir.h"
#include "sim/bfl_writer.h"
#include "tests/e2e/expected_listing.h"
#include "tests/support/config_requests.h"
#include "tests/support/in_process_server.h"
#include "tests/support/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::DeviceMode;
using tessera_test::ErrorOf;

constexpr double kLosses[] = {1.0, 5.0};
constexpr size_t kKx = 2;  // built-in robot order: PDP, PCM, Kestrel KX 1, Kestrel KF 2, ...
constexpr size_t kKf = 3;
constexpr uint8_t kKestrelKxCode = 9;
constexpr auto kListingWindow = std::chrono::seconds(10);
// A loaded machine makes rounds slow: the window grows until it holds this many round starts.
constexpr size_t kRoundsToJudge = 6;
constexpr auto kLongestListingWindow = std::chrono::seconds(60);
constexpr size_t kRoundsOfOnePollCycle = 2;
constexpr auto kMotorStopDeadline = std::chrono::seconds(2);
constexpr auto kMotorQuietCheck = std::chrono::milliseconds(500);

int Runs() {
  const char* runs = std::getenv("TESSERA_LOSSY_RUNS");
  return runs != nullptr && std::atoi(runs) > 0 ? std::atoi(runs) : 1;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class LossyBus : public tessera_test::InProcessServerTest {
 protected:
  void SetUp() override {
    InProcessServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WaitForListing([](const json& l) { return l.size() == 8; }).size(), 8u);
  }

  // A fresh server and robot for every run, healthy until the run makes the bus lossy.
  template <typename Body>
  void ForEachRun(Body body) {
    for (double loss : kLosses) {
      for (int run = 1; run <= Runs(); ++run) {
        if (run > 1 || loss != kLosses[0]) {
          TearDown();
          SetUp();
          ASSERT_FALSE(HasFatalFailure());
        }
        SCOPED_TRACE(std::to_string(loss) + " % loss, run " + std::to_string(run));
        body(loss, static_cast<uint64_t>(run));
      }
    }
  }

  void Lose(double percent, uint64_t seed) {
    BusFaults faults;
    faults.sent.drop_percent = faults.received.drop_percent = percent;
    faults.seed = seed;
    bus_->setFaults(faults);
  }
  void Heal() { bus_->setFaults(BusFaults{}); }

  DeviceAttributes Device(size_t index) {
    DeviceAttributes attributes;
    EXPECT_TRUE(robot().attributes(index, &attributes));
    return attributes;
  }
  std::vector<uint8_t> Image(size_t index) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(robot().configImage(index, &image));
    return image;
  }
  double MotorOutput(size_t index) { return Device(index).state.motor.output; }

  // Counts printed at the end of a proof, by loss.
  std::map<double, std::map<std::string, int>> counts_;
  void Count(double loss, const std::string& what) { ++counts_[loss][what]; }
  void PrintCounts(const char* proof) {
    for (const auto& [loss, byOutcome] : counts_) {
      std::cout << proof << " at " << loss << " % loss:";
      for (const auto& [what, n] : byOutcome) std::cout << " " << what << " " << n << ";";
      std::cout << "\n";
    }
  }
};

// Round starts (the presence request that opens every listing round), in wall-clock seconds,
// from a bus trace.
std::vector<double> RoundStarts(const std::string& tracePath) {
  std::vector<double> starts;
  std::ifstream trace(tracePath);
  std::string line;
  while (std::getline(trace, line)) {
    if (line.find(" 0004F93F#023E00") != std::string::npos) starts.push_back(std::stod(line.substr(1)));
  }
  return starts;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Every absence of a device from the listing, polled every 20 ms, counted in listing rounds.
// A device that did not answer its poll is stale until its next poll: with eight devices and
// four polled per round that is two rounds later, so an absence spans at most two round
// starts. More means it missed more than one poll in a row, or was not polled at all.
TEST_F(LossyBus, ListingNeverLosesAHealthyDeviceForLong) {
  const std::string tracePath = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                "/lossy-listing-" + std::to_string(getpid()) + ".log";
  ForEachRun([&](double loss, uint64_t seed) {
    std::string error;
    ASSERT_TRUE(CanMux_SetTrace(tracePath, &error)) << error;
    Lose(loss, seed);
    std::map<std::string, double> listedLast;  // while listed: the last listing that had it
    std::map<std::string, double> missingAfter;  // while missing: when it was last listed
    std::vector<std::pair<std::string, std::pair<double, double>>> absences;
    const auto end = Clock::now() + kListingWindow;
    const auto latest = Clock::now() + kLongestListingWindow;
    auto nextRoundCount = end;
    while (Clock::now() < latest) {
      if (Clock::now() >= nextRoundCount) {
        if (RoundStarts(tracePath).size() >= kRoundsToJudge) break;
        nextRoundCount = Clock::now() + std::chrono::milliseconds(500);
      }
      // A listing may wait behind a round; its content is from some moment between asking and
      // the answer. An absence runs from the answer of the last listing that had the device to
      // the asking of the first that has it again: every listing in between lacked it.
      const double asked = WallSeconds();
      const json listing = tessera_test::FetchListing(Port());
      const double now = WallSeconds();
      std::set<std::string> listed;
      for (const json& d : listing)
        listed.insert(d["Model"].get<std::string>() + " " + std::to_string(d["ID"].get<int>()));
      for (size_t i = 0; i < robot().deviceCount(); ++i) {
        const DeviceAttributes device = Device(i);
        const std::string name =
            tessera_test::ExpectedModel(device) + " " + std::to_string(device.deviceNumber);
        if (listed.count(name)) {
          if (missingAfter.count(name)) absences.push_back({name, {missingAfter[name], asked}});
          missingAfter.erase(name);
          listedLast[name] = now;
        } else if (!missingAfter.count(name)) {
          missingAfter[name] = listedLast.count(name) ? listedLast[name] : now;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Heal();
    for (const auto& [name, since] : missingAfter) absences.push_back({name, {since, WallSeconds()}});
    ASSERT_TRUE(CanMux_SetTrace("", &error)) << error;
    const std::vector<double> rounds = RoundStarts(tracePath);
    ASSERT_GE(rounds.size(), kRoundsToJudge) << "too few listing rounds in the trace";
    size_t worst = 0;
    for (const auto& [name, interval] : absences) {
      const size_t spanned = static_cast<size_t>(std::count_if(
          rounds.begin(), rounds.end(),
          [&](double t) { return t > interval.first && t < interval.second; }));
      worst = std::max(worst, spanned);
      EXPECT_LE(spanned, kRoundsOfOnePollCycle)
          << name << " was missing for " << interval.second - interval.first << " s, "
          << spanned << " rounds";
      Count(loss, "absences over " + std::to_string(spanned) + " rounds");
    }
    Count(loss, worst > kRoundsOfOnePollCycle ? "runs with a longer absence" : "runs within");
    if (worst > kRoundsOfOnePollCycle) {
      // The bus of that run, for whoever looks into it.
      const std::string kept = tracePath + "." + std::to_string(loss) + "." + std::to_string(seed);
      std::rename(tracePath.c_str(), kept.c_str());
      std::cout << "longer absence: the bus is in " << kept << "\n";
    }
    unlink(tracePath.c_str());
  });
  PrintCounts("listing");
}

std::string WriteImage(const std::string& dir, const std::string& name, uint8_t major,
                       uint8_t minor, uint32_t sectors) {
  const std::vector<uint8_t> file = quor::tessera::sim::MakeBflFile(
      quor::tessera::sim::PlanFor(kKestrelKxCode, major, minor, sectors));
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return name;
}

json Upgrade(int port, const std::string& file) {
  tessera_test::HttpConnection connection(port);
  if (!connection.sendRaw("GET /?action=fieldupgrade&model=kestrel+kx&id=1&file=" + file +
                          " HTTP/1.1\r\nHost: localhost\r\n\r\n"))
    return json(json::value_t::discarded);
  const auto response = connection.readResponse(std::chrono::minutes(5));
  return response ? json::parse(response->body, nullptr, false) : json(json::value_t::discarded);
}

bool RunsVersion(const DeviceAttributes& device, uint8_t major, uint8_t minor) {
  return device.mode == DeviceMode::kApplication && device.firmware[0] == major &&
         device.firmware[1] == minor;
}

TEST_F(LossyBus, UpgradeSucceedsOrSaysWhyAndASecondOneBringsTheDeviceBack) {
  char dir[] = "/tmp/tessera-lossy-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  SetSearchDir(dir);
  ForEachRun([&](double loss, uint64_t seed) {
    const uint8_t minor = static_cast<uint8_t>(seed);
    const std::string lossy = WriteImage(dir, "lossy.bfl", 30, minor, 8);
    const std::string healthy = WriteImage(dir, "healthy.bfl", 31, minor, 8);
    Lose(loss, seed);
    const json first = Upgrade(Port(), lossy);
    Heal();
    const int code = ErrorOf(first);
    ASSERT_NE(1, code) << "no answer to the upgrade";
    Count(loss, "first upgrade " + std::to_string(code));
    if (code == 0) {
      EXPECT_TRUE(RunsVersion(Device(kKx), 30, minor)) << "success, but the device does not run it";
    } else {
      EXPECT_NE("", first["UpdateMessage"].get<std::string>());
    }
    // Healthy again: the device is found (in its bootloader, perhaps) and upgraded.
    ASSERT_TRUE(tessera_test::WaitUntil(
        [&] { return ErrorOf(Upgrade(Port(), healthy)) == 0; }, std::chrono::seconds(60),
        std::chrono::milliseconds(500)))
        << "the second upgrade never succeeded";
    EXPECT_TRUE(RunsVersion(Device(kKx), 31, minor));
    Count(loss, "second upgrade brought it back");
  });
  PrintCounts("upgrade");
}

// Writes a changed document while frames are lost, then compares the device's image with the
// image before and with the image the same document gives on a healthy bus.
TEST_F(LossyBus, ConfigurationWriteLandsWholeOrReportsAFailure) {
  ForEachRun([&](double loss, uint64_t seed) {
    json document = tessera_test::WaitForConfig(Port(), "kestrel kf", 2)["Device"];
    ASSERT_TRUE(document.is_object());
    tessera_test::ValuesOf(document, "Motor Output")["Peak Forward Output"] =
        0.25 + 0.01 * static_cast<double>(seed);
    const std::vector<uint8_t> before = Image(kKf);
    Lose(loss, seed);
    const int code = ErrorOf(tessera_test::CurlSetConfig(Port(), "kestrel kf", 2, document));
    Heal();
    const std::vector<uint8_t> after = Image(kKf);
    ASSERT_NE(1, code) << "no answer to the write";
    // The losses may have left it unlisted until its next poll.
    WaitForListing([](const json& listing) {
      return std::any_of(listing.begin(), listing.end(),
                         [](const json& d) { return d["Model"] == "Kestrel KF"; });
    });
    ASSERT_EQ(0, ErrorOf(tessera_test::CurlSetConfigToAnsweringDevice(Port(), "kestrel kf", 2,
                                                                      document)));
    const std::vector<uint8_t> written = Image(kKf);
    ASSERT_NE(before, written) << "the document changes the image";
    if (code == 0) {
      EXPECT_EQ(written, after) << "success, but the device holds something else";
    } else {
      EXPECT_TRUE(after == before || after == written) << "a failed write left a mix";
    }
    Count(loss, "write " + std::to_string(code) +
                    (after == written ? " (device has it)" : " (device unchanged)"));
  });
  PrintCounts("configuration");
}

std::string ControlQuery(int demand) {
  return "/?action=control&model=kestrel+kx&id=1&controlmode=0&controlen=true&nonfrcroboten=true"
         "&demand0=" + std::to_string(demand);
}

TEST_F(LossyBus, ControlStopsTheMotorWhenRequestsOrFramesStop) {
  ForEachRun([&](double loss, uint64_t seed) {
    Lose(loss, seed);
    // Once the requests stop, and once the frames stop while the requests go on.
    for (const bool framesStop : {false, true}) {
      SCOPED_TRACE(framesStop ? "frames stop" : "requests stop");
      bool driven = false;
      const auto driveEnd = Clock::now() + std::chrono::seconds(1);
      while (Clock::now() < driveEnd) {
        EXPECT_EQ(0, ErrorOf(tessera_test::GetJson(Port(), ControlQuery(512))));
        driven = driven || MotorOutput(kKx) > 0.4;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ASSERT_TRUE(driven) << "the motor never ran";
      const auto stopAt = Clock::now();
      BusFaults dead = bus_->faults();
      dead.sent.drop_percent = 100;
      if (framesStop) bus_->setFaults(dead);
      const bool stopped = tessera_test::WaitUntil(
          [&] {
            if (framesStop) tessera_test::GetJson(Port(), ControlQuery(512));
            return MotorOutput(kKx) == 0.0;
          },
          kMotorStopDeadline, std::chrono::milliseconds(5));
      const double stop_s = Seconds(Clock::now() - stopAt);
      EXPECT_TRUE(stopped) << "still driven " << stop_s << " s later";
      EXPECT_FALSE(tessera_test::WaitUntil([&] { return MotorOutput(kKx) != 0.0; },
                                           kMotorQuietCheck, std::chrono::milliseconds(5)))
          << "driven again";
      Lose(loss, seed);
      Count(loss, std::string(framesStop ? "frames stop" : "requests stop") +
                      (stopped ? ": stopped" : ": still driven"));
      std::cout << (framesStop ? "frames" : "requests") << " stopped, motor neutral after "
                << stop_s << " s\n";
    }
    Heal();
  });
  PrintCounts("control");
}

}  // namespace
