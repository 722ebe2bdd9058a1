// Everything at once, for an hour: the real host program on the built-in simulated robot, its
// bus losing a share of the frames each way (1 % unless told otherwise), and on kept-alive
// connections at the same time:
//  - N clients (4), each a rotation of "getdevices", "blink", "setname", "getconfig",
//    "selftest", "progress" and "getversion" over the robot's devices;
//  - a configuration writer: every 2 s a changed document for a motor controller, or an
//    unchanged one for the CANdial and the Wren;
//  - a plotter: "plot" of the Kestrel KX every 100 ms;
//  - a driver: "control" of the Kestrel KF every 20 ms, 2 s at 20 % and 1 s stopped (demand 0);
//  - an upgrader: a 16-sector firmware upgrade of the Harrier HX every few minutes (180 s).
// The Harrier HX is the upgrader's alone: an upgrade the bus cut short leaves it in its
// bootloader, where the others' requests would fail for that reason only.
//
//   bench_everything_soak [--seconds S] [--clients N] [--loss PERCENT] [--seed N]
//                         [--upgrade-every S] [--trace FILE]
//
// Every answer is checked against the codes its action can give when frames are lost (kExplained
// below); another code, no answer, or a body that is not JSON is an unexplained error. It prints
// the answers by action and code, the unexplained ones, the listings that lacked a device, the
// slowest answer per action, and the server's RSS, threads and open descriptors at the start
// (once the load has run a sixth of the time, at most 30 s; before the load too), the end, and
// their peak. Exit status 1 on an unexplained error,
// or, for a run of 10 minutes or more, when RSS, threads or descriptors grew by 10 % or more.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak/soak_support.h"
#include "sim/bfl_writer.h"
#include "tests/support/http_client.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;
using soak::Device;
using soak::DeviceQuery;
using soak::kDevices;

constexpr size_t kRobotDevices = 8;
constexpr size_t kUpgradeTarget = 4;  // Harrier HX 3
constexpr uint8_t kHarrierModelCode = 16;
constexpr uint32_t kUpgradeSectors = 16;
constexpr auto kFirstListingDeadline = std::chrono::seconds(60);
constexpr auto kSampleInterval = std::chrono::seconds(1);
// The server's figures at the start are taken once every client's connection and thread is up.
constexpr auto kLongestWarmUp = std::chrono::seconds(30);
constexpr auto kAnswerDeadline = std::chrono::minutes(10);  // an upgrade holds others that long
constexpr int kGrowthCheckSeconds = 600;
constexpr double kAllowedGrowth = 0.10;
constexpr size_t kExamplesShown = 10;
// The server closes a kept-alive connection idle for 60 s; a client idle longer than this (the
// upgrader, between upgrades) asks on a fresh one, or its request would meet a closed socket.
constexpr auto kLongestIdleReuse = std::chrono::seconds(30);

// The codes each action can answer on a bus that loses frames, and why.
const std::map<std::string, std::set<int>> kExplained = {
    {"getdevices", {0}},
    {"getversion", {0}},
    {"plot", {0}},
    {"control", {0}},
    // 0 while the upgrader's upgrade runs, -126 otherwise; -120 while an upgrade the bus cut
    // short has left the Harrier HX in its bootloader, not listed until the next one.
    {"progress", {0, -120, -126}},
    // -128 until the device's first whole image has arrived.
    {"getconfig", {0, -120, -128}},
    // -102: the device's answer to the presence check or the command was lost.
    // -109 (blink) and -113 (setname): the device's acknowledgement of the command was lost.
    // -120 for these and the next three: the device was not in the listing at that moment;
    // such gaps are counted as listings lacking a device and printed by device.
    {"blink", {0, -102, -109, -120}},
    {"setname", {0, -102, -113, -120}},
    // -124: a status frame the report needs was lost (PDP, PCM, CANtap).
    {"selftest", {0, -120, -124}},
    // -102 no answer to the mode query; -125 the last status poll was lost, so the server does
    // not know the device takes configurations; -133 the acknowledgement was lost; -132 the
    // read-back was lost or differs; -605 an answer of the transfer never came.
    {"setconfig", {0, -102, -120, -125, -132, -133, -605}},
    // The steps' codes when an answer or a sector's frames were lost.
    {"fieldupgrade", {0, -102, -103, -104, -105, -106, -107, -108, -301, -302}},
};

struct Options {
  int seconds = 3600;
  int clients = 4;
  double lossPercent = 1.0;
  uint64_t seed = 1;
  int upgradeEverySeconds = 180;
  std::string tracePath;
};

struct Results {
  std::mutex lock;
  std::map<std::string, std::map<int, long>> codes;  // by action, by code
  std::map<std::string, long> unexplained;           // by action
  std::vector<std::string> unexplainedExamples;
  std::map<std::string, double> slowest_s;
  long listings = 0;
  std::map<std::string, long> listingsMissing;  // by device
  long listingsLackingOne = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  const bool read = soak::ReadFlagPairs(argc, argv, [&](const std::string& flag, const std::string& value) {
    if (flag == "--seconds") {
      options.seconds = std::stoi(value);
    } else if (flag == "--clients") {
      options.clients = std::stoi(value);
    } else if (flag == "--loss") {
      options.lossPercent = std::stod(value);
    } else if (flag == "--seed") {
      options.seed = std::stoull(value);
    } else if (flag == "--upgrade-every") {
      options.upgradeEverySeconds = std::stoi(value);
    } else if (flag == "--trace") {
      options.tracePath = value;
    } else {
      return false;
    }
    return true;
  });
  return read && options.seconds > 0 && options.clients >= 0 && options.lossPercent >= 0 &&
         options.lossPercent <= 100 && options.upgradeEverySeconds > 0;
}

// One request on a kept-alive connection (a fresh one after a failure), recorded.
class Client {
 public:
  Client(int port, Results& results) : port_(port), results_(results) {}

  json ask(const std::string& action, const std::string& request) {
    const auto start = Clock::now();
    if (!connection_ || !connection_->connected() || start - lastUse_ > kLongestIdleReuse)
      connection_ = std::make_unique<tessera_test::HttpConnection>(port_);
    std::optional<tessera_test::HttpResponse> response;
    if (connection_->sendRaw(request)) response = connection_->readResponse(kAnswerDeadline);
    const double took_s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!response) connection_.reset();
    lastUse_ = Clock::now();
    const json answer =
        response ? json::parse(response->body, nullptr, false) : json(json::value_t::discarded);
    record(action, answer, took_s);
    return answer;
  }

  json get(const std::string& action, const std::string& target) {
    return ask(action, "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  }

 private:
  void record(const std::string& action, const json& answer, double took_s) {
    const bool parsed = !answer.is_discarded() && answer.contains("GeneralReturn");
    const int code = parsed ? answer["GeneralReturn"].value("Error", 1) : 1;
    std::lock_guard<std::mutex> hold(results_.lock);
    ++results_.codes[action][code];
    results_.slowest_s[action] = std::max(results_.slowest_s[action], took_s);
    if (!parsed || !kExplained.at(action).count(code)) {
      ++results_.unexplained[action];
      if (results_.unexplainedExamples.size() < kExamplesShown)
        results_.unexplainedExamples.push_back(
            action + ": " + (parsed ? answer["GeneralReturn"].dump() : "no answer"));
    }
    if (parsed && action == "getdevices") recordListing(answer);
  }

  void recordListing(const json& answer) {
    ++results_.listings;
    const json listing = tessera_test::DeviceArrayOf(answer);
    std::set<std::string> listed;
    for (const json& d : listing)
      listed.insert(d.value("Model", std::string()) + " " + std::to_string(d.value("ID", -1)));
    bool lacking = false;
    for (const Device& device : kDevices) {
      const std::string name = std::string(device.listed) + " " + std::to_string(device.id);
      if (listed.count(name)) continue;
      ++results_.listingsMissing[name];
      lacking = true;
    }
    if (lacking) ++results_.listingsLackingOne;
  }

  int port_;
  Results& results_;
  std::unique_ptr<tessera_test::HttpConnection> connection_;
  Clock::time_point lastUse_ = Clock::now();
};

std::string MultipartPost(const std::string& target, const std::string& file) {
  const std::string boundary = "soakboundary7d1f";
  const std::string body = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"c.json\""
                           "\r\nContent-Type: application/json\r\n\r\n" +
                           file + "\r\n--" + boundary + "--\r\n";
  return "POST " + target + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: multipart/form-data; "
         "boundary=" + boundary + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// The devices the clients and the writer may address: all but the upgrade target.
const Device& Addressable(size_t n) {
  size_t index = n % (soak::kDeviceCount - 1);
  if (index >= kUpgradeTarget) ++index;
  return kDevices[index];
}

void RunClient(int port, int client, Clock::time_point end, Results& results) {
  Client http(port, results);
  for (long n = 0; Clock::now() < end; ++n) {
    const size_t step = static_cast<size_t>(n + client);
    const Device& device = Addressable(step / 7 + static_cast<size_t>(client));
    switch (step % 7) {
      case 0:
        http.get("getdevices", "/?action=getdevices");
        break;
      case 1:
        http.get("blink", DeviceQuery("blink", device));
        break;
      case 2:
        if (device.takesNames)
          http.get("setname", DeviceQuery("setname", device) + "&newname=soak" +
                                  std::to_string(client) + "n" + std::to_string(n % 100));
        break;
      case 3:
        if (device.takesConfigs) http.get("getconfig", DeviceQuery("getconfig", device));
        break;
      case 4:
        http.get("selftest", DeviceQuery("selftest", device));
        break;
      case 5:
        http.get("progress", DeviceQuery("progress", kDevices[kUpgradeTarget]));
        break;
      default:
        http.get("getversion", "/?action=getversion");
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void RunConfigWriter(int port, Clock::time_point end, Results& results) {
  Client http(port, results);
  const size_t writable[] = {2, 3, 5, 6};  // Kestrel KX, Kestrel KF, Wren, CANdial
  for (long n = 0; Clock::now() < end; ++n) {
    const Device& device = kDevices[writable[n % 4]];
    json answer = http.get("getconfig", DeviceQuery("getconfig", device));
    if (!answer.is_discarded() && answer.contains("Device") && answer["Device"].is_object()) {
      json document = answer["Device"];
      if (device.motor) {
        for (json& entry : document["Configs"])
          if (entry["Name"] == "Motor Output")
            entry["Values"]["Peak Forward Output"] = n % 2 == 0 ? 0.75 : 1.0;
      }
      http.ask("setconfig", MultipartPost(DeviceQuery("setconfig", device), document.dump()));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
  }
}

void RunPlotter(int port, Clock::time_point end, Results& results) {
  Client http(port, results);
  while (Clock::now() < end) {
    http.get("plot", DeviceQuery("plot", kDevices[2]) + "&channels=15");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void RunDriver(int port, Clock::time_point end, Results& results) {
  Client http(port, results);
  const std::string control = DeviceQuery("control", kDevices[3]) +
                              "&controlmode=0&controlen=true&nonfrcroboten=true&demand0=";
  while (Clock::now() < end) {
    const auto stopAt = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < stopAt && Clock::now() < end) {
      http.get("control", control + "205");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    http.get("control", control + "0");
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

void RunUpgrader(int port, const std::string& file, int everySeconds, Clock::time_point start,
                 Clock::time_point end, std::atomic<bool>& stopping, Results& results) {
  Client http(port, results);
  auto next = start + std::chrono::seconds(everySeconds) / 2;
  while (!stopping) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (Clock::now() < next) continue;
    if (Clock::now() >= end) return;
    const json answer =
        http.get("fieldupgrade", DeviceQuery("fieldupgrade", kDevices[kUpgradeTarget]) + "&file=" + file);
    std::printf("  %6.0f s upgrade of the Harrier HX: %s\n",
                std::chrono::duration<double>(Clock::now() - start).count(),
                answer.is_discarded() ? "no answer" : answer["GeneralReturn"].dump().c_str());
    std::fflush(stdout);
    next += std::chrono::seconds(everySeconds);
  }
}

std::string WriteFirmware(const std::string& dir) {
  const std::vector<uint8_t> file = quor::tessera::sim::MakeBflFile(
      quor::tessera::sim::PlanFor(kHarrierModelCode, 30, 1, kUpgradeSectors));
  std::ofstream(dir + "/soak.bfl", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return "soak.bfl";
}

double Growth(long first, long last) {
  return first > 0 ? static_cast<double>(last - first) / static_cast<double>(first) : 0.0;
}

bool PrintSummary(const Options& options, const Results& results, const soak::SampleLog& samples) {
  std::printf("%d s, %d clients, %.3g %% of the frames lost each way\n", options.seconds,
              options.clients, options.lossPercent);
  long total = 0, unexplained = 0;
  for (const auto& [action, byCode] : results.codes) {
    std::printf("  %-12s", action.c_str());
    for (const auto& [code, count] : byCode) {
      std::printf(" %d: %ld", code, count);
      total += count;
    }
    const auto bad = results.unexplained.find(action);
    if (bad != results.unexplained.end()) unexplained += bad->second;
    std::printf("   slowest %.3f s\n", results.slowest_s.at(action));
  }
  for (const std::string& example : results.unexplainedExamples)
    std::printf("  unexplained: %s\n", example.c_str());
  std::printf("answers %ld, unexplained %ld\n", total, unexplained);
  std::printf("listings %ld, lacking a device %ld", results.listings, results.listingsLackingOne);
  for (const auto& [name, count] : results.listingsMissing)
    std::printf(", %s %ld", name.c_str(), count);
  std::printf("\n");
  samples.print();
  const double growth[] = {Growth(samples.first.rssKb, samples.last.rssKb),
                           Growth(samples.first.threads, samples.last.threads),
                           Growth(samples.first.fds, samples.last.fds)};
  std::printf("growth start -> end: RSS %+.1f %%, threads %+.1f %%, fds %+.1f %%\n",
              growth[0] * 100, growth[1] * 100, growth[2] * 100);
  bool grew = false;
  for (double g : growth) grew = grew || g >= kAllowedGrowth;
  return unexplained == 0 && !(grew && options.seconds >= kGrowthCheckSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--seconds S] [--clients N] [--loss PERCENT] [--seed N] "
                         "[--upgrade-every S] [--trace FILE]\n", argv[0]);
    return 2;
  }
  char dir[] = "/tmp/tessera-soak-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string firmware = WriteFirmware(dir);
  char faults[96];
  std::snprintf(faults, sizeof faults, "drop=%g%%,seed=%llu", options.lossPercent,
                static_cast<unsigned long long>(options.seed));
  std::vector<std::string> args = {"--can", "sim", "--start-delay", "0", "--search-dir", dir};
  if (options.lossPercent > 0) args.insert(args.end(), {"--bus-faults", faults});
  if (!options.tracePath.empty())
    args.insert(args.end(), {"--trace", options.tracePath, "--trace-direction"});
  tessera_test::ServerProcess server(args);
  if (!soak::ListsEveryDevice(server, kRobotDevices, kFirstListingDeadline)) return 1;

  Results results;
  soak::SampleLog samples;
  const soak::ProcessSample idle = soak::Sample(server.pid());
  const auto start = Clock::now();
  const auto warmedUp = start + std::min<Clock::duration>(kLongestWarmUp,
                                                         std::chrono::seconds(options.seconds) / 6);
  const auto end = start + std::chrono::seconds(options.seconds);
  std::atomic<bool> stopping{false};
  std::vector<std::thread> threads;
  const int port = server.port();
  for (int c = 0; c < options.clients; ++c)
    threads.emplace_back(RunClient, port, c, end, std::ref(results));
  threads.emplace_back(RunConfigWriter, port, end, std::ref(results));
  threads.emplace_back(RunPlotter, port, end, std::ref(results));
  threads.emplace_back(RunDriver, port, end, std::ref(results));
  threads.emplace_back(RunUpgrader, port, firmware, options.upgradeEverySeconds, start, end,
                       std::ref(stopping), std::ref(results));
  while (Clock::now() < end) {
    std::this_thread::sleep_for(kSampleInterval);
    if (Clock::now() >= warmedUp) samples.add(soak::Sample(server.pid()));
  }
  std::printf("before the load: RSS %.1f MB, threads %ld, fds %ld\n", idle.rssKb / 1024.0,
              idle.threads, idle.fds);
  stopping = true;
  for (std::thread& thread : threads) thread.join();
  samples.add(soak::Sample(server.pid()));
  const bool healthy = PrintSummary(options, results, samples);
  server.stop();
  const std::string& output = server.output();
  const size_t faultLine = output.find("bus faults:");
  if (faultLine != std::string::npos)
    std::printf("%s\n", output.substr(faultLine, output.find('\n', faultLine) - faultLine).c_str());
  return healthy ? 0 : 1;
}
