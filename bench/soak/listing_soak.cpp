// Soak of the device listing under command traffic: starts the real host program on the built-in
// simulated robot, waits until all eight devices are listed, then runs N clients for S seconds,
// each on a kept-alive connection, mixing "getdevices", "getversion", "blink", "setname",
// "factorydef", "progress" and an unknown action. It records the device count of every
// "getdevices" answer and samples the server's RSS, threads and open descriptors once a second.
//
//   bench_listing_soak [--clients N] [--seconds S] [--think-ms T] [--csv FILE] [--trace FILE]
//
// An answer is an error when none came, it is not JSON, or its "Error" is not the one its action
// gives on a healthy robot (0, "progress" -126 when no upgrade runs, the unknown action -116).
// The exit status is 1 when any answer was an error or any listing held fewer devices. `--csv`
// writes one line per "getdevices" answer: seconds since the start, client, devices listed, and
// the robot's devices missing from it.
#include <unistd.h>

#include <algorithm>
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
#include "tests/support/http_client.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using soak::Device;
using soak::DeviceQuery;
using soak::kDeviceCount;
using soak::kDevices;
using soak::MissingDevices;
using soak::Sample;
using soak::SampleLog;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr size_t kRobotDevices = 8;
constexpr auto kFirstListingDeadline = std::chrono::seconds(60);
constexpr auto kSampleInterval = std::chrono::seconds(1);
constexpr int kCodeOkay = 0;
constexpr int kCodeNotUpdating = -126;
constexpr int kCodeInvalidTask = -116;
constexpr size_t kShortListingsShown = 20;

struct Options {
  int clients = 8;
  int seconds = 600;
  int thinkMs = 5;
  std::string csvPath;
  std::string tracePath;
};

struct Request {
  std::string action;
  std::string target;
  int expected;
};

// What every client adds to; one lock, taken once per answer.
struct Results {
  std::mutex lock;
  std::map<std::string, long> answers;                     // by action
  std::map<std::string, std::map<int, long>> errorCodes;   // unexpected codes by action
  long noAnswer = 0;
  std::map<size_t, long> listingSizes;
  std::vector<std::string> shortListings;  // the first few, with the devices missing
  std::FILE* csv = nullptr;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  const bool read = soak::ReadFlagPairs(argc, argv, [&](const std::string& flag, const std::string& value) {
    if (flag == "--clients") {
      options.clients = std::stoi(value);
    } else if (flag == "--seconds") {
      options.seconds = std::stoi(value);
    } else if (flag == "--think-ms") {
      options.thinkMs = std::stoi(value);
    } else if (flag == "--csv") {
      options.csvPath = value;
    } else if (flag == "--trace") {
      options.tracePath = value;
    } else {
      return false;
    }
    return true;
  });
  return read && options.clients > 0 && options.seconds > 0 && options.thinkMs >= 0;
}

// The n-th request of a client: a fixed rotation of actions over the robot's devices, shifted per
// client so that the clients do not move in step.
Request NthRequest(int client, long n) {
  const size_t step = static_cast<size_t>(n + client);
  const Device& device = kDevices[(step / 8 + static_cast<size_t>(client)) % kDeviceCount];
  switch (step % 8) {
    case 0:
    case 4:
      return {"getdevices", "/?action=getdevices", kCodeOkay};
    case 1:
      return {"blink", DeviceQuery("blink", device), kCodeOkay};
    case 2:
      return {"getversion", "/?action=getversion", kCodeOkay};
    case 3: {
      const Device& named = device.takesNames ? device : kDevices[3];
      return {"setname", DeviceQuery("setname", named) + "&newname=soak" +
                             std::to_string(client) + "n" + std::to_string(n % 100),
              kCodeOkay};
    }
    case 5:
      return {"factorydef", DeviceQuery("factorydef", device), kCodeOkay};
    case 6:
      return {"progress", DeviceQuery("progress", device), kCodeNotUpdating};
    default:
      return {"unknown", DeviceQuery("soakunknown", device), kCodeInvalidTask};
  }
}

void RecordListing(Results& results, int client, double at_s, const json& answer) {
  const json listing = tessera_test::DeviceArrayOf(answer);
  ++results.listingSizes[listing.size()];
  const std::string missing = MissingDevices(listing);
  if (results.csv != nullptr)
    std::fprintf(results.csv, "%.3f,%d,%zu,\"%s\"\n", at_s, client, listing.size(),
                 missing.c_str());
  if (listing.size() < kRobotDevices && results.shortListings.size() < kShortListingsShown) {
    char line[64];
    std::snprintf(line, sizeof line, "%8.3f s client %d: %zu devices, missing ", at_s, client,
                  listing.size());
    results.shortListings.push_back(line + missing);
  }
}

void Record(Results& results, int client, double at_s, const Request& request,
            const std::optional<tessera_test::HttpResponse>& response) {
  const json answer =
      response ? json::parse(response->body, nullptr, false) : json(json::value_t::discarded);
  std::lock_guard<std::mutex> hold(results.lock);
  ++results.answers[request.action];
  if (answer.is_discarded() || !answer.contains("GeneralReturn")) {
    ++results.noAnswer;
    return;
  }
  const int error = answer["GeneralReturn"].value("Error", 1);
  if (error != request.expected) ++results.errorCodes[request.action][error];
  if (request.action == "getdevices") RecordListing(results, client, at_s, answer);
}

void RunClient(int port, int client, const Options& options, Clock::time_point start,
               Clock::time_point end, Results& results) {
  std::unique_ptr<tessera_test::HttpConnection> connection;
  for (long n = 0; Clock::now() < end; ++n) {
    if (!connection || !connection->connected())
      connection = std::make_unique<tessera_test::HttpConnection>(port);
    const Request request = NthRequest(client, n);
    const auto response = connection->get(request.target);
    if (!response) connection.reset();  // a fresh connection for the next request
    const double at_s = std::chrono::duration<double>(Clock::now() - start).count();
    Record(results, client, at_s, request, response);
    std::this_thread::sleep_for(std::chrono::milliseconds(options.thinkMs));
  }
}

void PrintSummary(const Options& options, const Results& results, const SampleLog& samples) {
  long total = 0, errors = results.noAnswer, listings = 0, shortOnes = 0;
  std::printf("clients %d, %d s\n", options.clients, options.seconds);
  for (const auto& [action, count] : results.answers) {
    total += count;
    std::printf("  %-10s %7ld answers", action.c_str(), count);
    const auto codes = results.errorCodes.find(action);
    if (codes != results.errorCodes.end()) {
      for (const auto& [code, n] : codes->second) {
        std::printf("  unexpected %d: %ld", code, n);
        errors += n;
      }
    }
    std::printf("\n");
  }
  for (const auto& [size, count] : results.listingSizes) {
    listings += count;
    if (size < kRobotDevices) shortOnes += count;
    std::printf("  getdevices listing %zu devices: %ld\n", size, count);
  }
  for (const std::string& line : results.shortListings) std::printf("  %s\n", line.c_str());
  std::printf("answers %ld, errors %ld (no answer %ld), getdevices %ld, fewer than %zu devices %ld\n",
              total, errors, results.noAnswer, listings, kRobotDevices, shortOnes);
  samples.print();
}

bool Healthy(const Results& results) {
  if (results.noAnswer != 0 || !results.errorCodes.empty()) return false;
  for (const auto& [size, count] : results.listingSizes) {
    if (size < kRobotDevices && count > 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--clients N] [--seconds S] [--think-ms T] [--csv FILE] "
                         "[--trace FILE]\n", argv[0]);
    return 2;
  }
  std::vector<std::string> args = {"--can", "sim", "--start-delay", "0"};
  if (!options.tracePath.empty())
    args.insert(args.end(), {"--trace", options.tracePath, "--trace-direction"});
  tessera_test::ServerProcess server(args);
  if (!soak::ListsEveryDevice(server, kRobotDevices, kFirstListingDeadline)) return 1;

  Results results;
  if (!options.csvPath.empty()) results.csv = std::fopen(options.csvPath.c_str(), "w");
  SampleLog samples;
  samples.add(Sample(server.pid()));
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(options.seconds);
  std::vector<std::thread> clients;
  for (int c = 0; c < options.clients; ++c) {
    clients.emplace_back(RunClient, server.port(), c, std::cref(options), start, end,
                         std::ref(results));
  }
  while (Clock::now() < end) {
    std::this_thread::sleep_for(kSampleInterval);
    samples.add(Sample(server.pid()));
  }
  for (std::thread& client : clients) client.join();
  samples.add(Sample(server.pid()));
  if (results.csv != nullptr) std::fclose(results.csv);
  PrintSummary(options, results, samples);
  return Healthy(results) ? 0 : 1;
}
