// "selftest" latency on the built-in simulated robot, through the real host program: the time
// from sending the request until the whole answer is read, for the brushed Kestrel KX (ID 1)
// and the brushless Kestrel KF (ID 2); 20 repetitions each, read the median.
//
// A capture ends as soon as every frame its report needs has arrived, so the slowest required
// frame (160 ms) bounds the figure, plus up to one 25 ms capture pass; a capture that never
// completes takes its full ten passes (about 250 ms). The counter "complete" is 1 when the
// report carried no "Some frames are missing" warning, so a figure measured against devices
// that do not broadcast is recognisable as such. "getversion" gives the HTTP baseline.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBuiltInRobotDevices = 8;
constexpr auto kListingDeadline = std::chrono::seconds(60);
constexpr int kRepetitions = 20;

// One server for every benchmark of the run, listed before the first measurement.
tessera_test::ServerProcess* Server() {
  static std::unique_ptr<tessera_test::ServerProcess> server = [] {
    auto process = std::make_unique<tessera_test::ServerProcess>(
        std::vector<std::string>{"--can", "sim", "--start-delay", "0"});
    if (process->port() > 0) {
      tessera_test::WaitForListing(
          process->port(),
          [](const nlohmann::json& listing) { return listing.size() >= kBuiltInRobotDevices; },
          kListingDeadline);
    }
    return process;
  }();
  return server->port() > 0 ? server.get() : nullptr;
}

void Measure(benchmark::State& state, const std::string& query) {
  tessera_test::ServerProcess* server = Server();
  if (server == nullptr) {
    state.SkipWithError("server did not start");
    return;
  }
  for (auto _ : state) {
    const auto start = Clock::now();
    const nlohmann::json answer = server->get(query);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (answer.is_discarded() || !answer.is_object()) {
      state.SkipWithError("no answer");
      return;
    }
    state.SetIterationTime(seconds);
    if (answer.contains("SelfTest")) {
      const std::string text = answer["SelfTest"];
      state.counters["complete"] = text.find("Some frames are missing") == std::string::npos;
      state.counters["error"] = answer["GeneralReturn"]["Error"].get<int>();
    }
  }
}

void SelfTestKestrelKx(benchmark::State& state) {
  Measure(state, "action=selftest&model=kestrel+kx&id=1");
}
void SelfTestKestrelKf(benchmark::State& state) {
  Measure(state, "action=selftest&model=kestrel+kf&id=2");
}
void GetVersionBaseline(benchmark::State& state) { Measure(state, "action=getversion"); }

#define TESSERA_LATENCY_BENCHMARK(name) \
  BENCHMARK(name)                       \
      ->UseManualTime()                 \
      ->Iterations(1)                   \
      ->Repetitions(kRepetitions)       \
      ->Unit(benchmark::kMillisecond)   \
      ->ReportAggregatesOnly(true)

TESSERA_LATENCY_BENCHMARK(GetVersionBaseline);
TESSERA_LATENCY_BENCHMARK(SelfTestKestrelKx);
TESSERA_LATENCY_BENCHMARK(SelfTestKestrelKf);

}  // namespace

BENCHMARK_MAIN();
