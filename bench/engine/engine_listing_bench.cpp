// Figures of the device engine on the simulated robot, through the real host program:
//  - ListingAfterPortOpens: from the moment the server reports its listening port until
//    "getdevices" shows all eight devices of the built-in robot (manual time, one start per
//    repetition; read the median).
//  - IdleCpuWithSimulatedRobot: CPU time (user + system, from /proc/<pid>/stat) the server
//    process uses over 10 s once all devices are listed, as a percentage of one core. The
//    simulated devices run in the same process, so the figure includes them.
//  - IdleCpuWithQuietRobot: the same with the built-in robot's devices told to send no status
//    frames (a device file with "omit_frames": ["all"]), the baseline for what the periodic
//    status frames cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBuiltInRobotDevices = 8;
constexpr auto kListingDeadline = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kIdleWindowSeconds = 10;

size_t ListedDevices(tessera_test::ServerProcess& server) {
  return tessera_test::FetchListing(server.port()).size();
}

// Seconds from the port line until every device is listed; negative on time-out.
double SecondsUntilAllListed(tessera_test::ServerProcess& server) {
  const auto start = Clock::now();
  while (Clock::now() - start < kListingDeadline) {
    if (ListedDevices(server) >= kBuiltInRobotDevices)
      return std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(kPollInterval);
  }
  return -1.0;
}

// utime + stime of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t afterName = text.rfind(')');
  if (afterName == std::string::npos) return -1;
  std::istringstream fields(text.substr(afterName + 2));
  std::string field;
  long utime = 0;
  long stime = 0;
  for (int index = 3; fields >> field; ++index) {  // field 3 is the state
    if (index == 14) utime = std::stol(field);
    if (index == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

void ListingAfterPortOpens(benchmark::State& state) {
  for (auto _ : state) {
    tessera_test::ServerProcess server({"--can", "sim", "--start-delay", "0"});
    if (server.port() <= 0) {
      state.SkipWithError("server did not start");
      return;
    }
    const double seconds = SecondsUntilAllListed(server);
    if (seconds < 0) {
      state.SkipWithError("not every device was listed in time");
      return;
    }
    state.SetIterationTime(seconds);
  }
}
BENCHMARK(ListingAfterPortOpens)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);

void MeasureIdleCpu(benchmark::State& state, const std::string& can) {
  for (auto _ : state) {
    tessera_test::ServerProcess server({"--can", can, "--start-delay", "0"});
    if (server.port() <= 0 || SecondsUntilAllListed(server) < 0) {
      state.SkipWithError("server did not list the robot");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let the first rounds settle
    const long before = CpuTicks(server.pid());
    std::this_thread::sleep_for(std::chrono::seconds(kIdleWindowSeconds));
    const long after = CpuTicks(server.pid());
    const double cpuSeconds = static_cast<double>(after - before) / sysconf(_SC_CLK_TCK);
    state.counters["cpu_percent"] = 100.0 * cpuSeconds / kIdleWindowSeconds;
    state.counters["cpu_ms_per_s"] = 1000.0 * cpuSeconds / kIdleWindowSeconds;
  }
}

void IdleCpuWithSimulatedRobot(benchmark::State& state) { MeasureIdleCpu(state, "sim"); }

// The built-in robot's eight devices, none of them broadcasting status frames.
void IdleCpuWithQuietRobot(benchmark::State& state) {
  const std::string path = "/tmp/tessera_bench_quiet_robot.json";
  std::ofstream(path) << R"({"devices": [
      {"family": "pdp", "id": 0, "omit_frames": ["all"]},
      {"family": "pcm", "id": 0, "omit_frames": ["all"]},
      {"family": "kestrel kx", "id": 1, "omit_frames": ["all"]},
      {"family": "kestrel kf", "id": 2, "omit_frames": ["all"]},
      {"family": "harrier hx", "id": 3, "omit_frames": ["all"]},
      {"family": "wren", "id": 4, "omit_frames": ["all"]},
      {"family": "candial", "id": 5, "omit_frames": ["all"]},
      {"family": "cantap", "id": 6, "omit_frames": ["all"]}]})";
  MeasureIdleCpu(state, "sim:" + path);
  std::remove(path.c_str());
}
BENCHMARK(IdleCpuWithSimulatedRobot)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);
BENCHMARK(IdleCpuWithQuietRobot)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
