// Figures of the configuration requests of a Kestrel KF on the simulated robot. Read the medians
// (every benchmark runs 20 repetitions of one request):
//  - GetConfigRoundTrip, SetConfigRoundTrip: one "getconfig" / one "setconfig" (a multipart POST
//    as `curl -F file=@doc.json` sends it) through the real host program, from the first byte
//    sent to the whole answer. The host's refresh rounds run meanwhile, as they always do, so a
//    request may wait for a round to give up the device-interface lock.
//  - EngineSave, EngineGet: saveConfigParameters / getConfigParameters alone, in process, with
//    no refresh rounds. Counters: CAN frames exchanged with the device per call (not the
//    robot's periodic status frames, which share the bus), the time they occupy a 1 Mbit/s bus
//    (131 bits per 8-byte extended frame, stuff bits not counted) and that wire time's share
//    of the call. The frames of a setconfig are exactly those of one save.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "sim/builtin_robot.h"
#include "tests/device/simulated_engine.h"
#include "tests/support/config_requests.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kRepetitions = 20;
constexpr double kFrameWire_us = 131.0;  // extended 8-byte data frame + intermission at 1 Mbit/s
constexpr size_t kKestrelKf = 3;         // built-in robot order

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The port of the host on the built-in robot, started once for every repetition; -1 when it
// did not come up with the Kestrel KF's configuration.
int HostPort() {
  static tessera_test::ServerProcess server({"--can", "sim", "--start-delay", "0"});
  static const bool ready = [] {
    if (server.port() <= 0) return false;
    tessera_test::WaitForListing(server.port(), [](const json& l) { return l.size() == 8; },
                                 std::chrono::seconds(30));
    return tessera_test::ErrorOf(tessera_test::WaitForConfig(server.port(), "kestrel kf", 2)) == 0;
  }();
  return ready ? server.port() : -1;
}

std::string MultipartSetConfig(const std::string& document) {
  const std::string body =
      "--tessera\r\nContent-Disposition: form-data; name=\"file\"; filename=\"kf.json\"\r\n"
      "Content-Type: application/json\r\n\r\n" + document + "\r\n--tessera--\r\n";
  return "POST /?action=setconfig&model=kestrel+kf&id=2 HTTP/1.1\r\nHost: localhost\r\n"
         "Content-Type: multipart/form-data; boundary=tessera\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void GetConfigRoundTrip(benchmark::State& state) {
  const int port = HostPort();
  if (port < 0) return state.SkipWithError("the host did not come up");
  for (auto _ : state) {
    const auto start = Clock::now();
    const json answer = tessera_test::GetConfig(port, "kestrel kf", 2);
    state.SetIterationTime(Seconds(start));
    if (tessera_test::ErrorOf(answer) != 0) state.SkipWithError("getconfig failed");
  }
}

void SetConfigRoundTrip(benchmark::State& state) {
  const int port = HostPort();
  if (port < 0) return state.SkipWithError("the host did not come up");
  const std::string request =
      MultipartSetConfig(tessera_test::GetConfig(port, "kestrel kf", 2)["Device"].dump(4));
  for (auto _ : state) {
    tessera_test::HttpConnection connection(port);
    const auto start = Clock::now();
    connection.sendRaw(request);
    const auto response = connection.readResponse(std::chrono::seconds(20));
    state.SetIterationTime(Seconds(start));
    if (!response || tessera_test::ErrorOf(json::parse(response->body, nullptr, false)) != 0)
      state.SkipWithError("setconfig failed");
  }
}

// An engine of its own on the built-in robot, without refresh rounds once the devices are
// known; null when they were not all listed.
engine_test::SimulatedEngine* Engine() {
  static engine_test::SimulatedEngine engine(quor::tessera::sim::BuiltInRobot());
  static const bool ready = [] {
    engine.WaitUntilAddressable();
    for (int round = 0; round < 2; ++round) engine.Round();
    return engine.Listed().size() == 8;
  }();
  return ready ? &engine : nullptr;
}

template <typename Call>
void FramesAndShare(benchmark::State& state, Call call) {
  if (Engine() == nullptr) return state.SkipWithError("the simulated robot was not listed");
  engine_test::SimulatedEngine& engine = *Engine();
  const CANDeviceInterface1::DeviceDescriptor kf =
      *engine.Engine().GetDescriptor(engine.Robot().baseArbId(kKestrelKf));
  for (auto _ : state) {
    engine.Recorder().clear();
    const auto start = Clock::now();
    const int result = call(engine.Front(), kf);
    const double seconds = Seconds(start);
    state.SetIterationTime(seconds);
    // Only the exchange with the device: the robot's periodic status frames share the bus.
    const uint32_t requestId = engine_id::RequestId(kf.dynamicId);
    const tessera_test::BusRecorder& bus = engine.Recorder();
    const size_t exchanged = bus.framesWithId(requestId).size() +
                             bus.framesWithId(engine_id::AnswerId(requestId)).size();
    const double frames = static_cast<double>(exchanged);
    state.counters["frames"] = frames;
    state.counters["wire_ms"] = frames * kFrameWire_us / 1000.0;
    state.counters["wire_share_%"] = 100.0 * frames * kFrameWire_us / 1e6 / seconds;
    if (result != QUOR_DI_OKAY) state.SkipWithError("the engine call failed");
  }
}

void EngineSave(benchmark::State& state) {
  ConfigByteArray image;  // the image the device holds, written back as it is
  FramesAndShare(state, [&image](ImplDeviceInterface& front,
                                 const CANDeviceInterface1::DeviceDescriptor& kf) {
    if (image.length == 0) front.getConfigParameters(&kf, image);
    ConfigByteArray readBack;
    return front.saveConfigParameters(&kf, image, readBack);
  });
}

void EngineGet(benchmark::State& state) {
  FramesAndShare(state, [](ImplDeviceInterface& front,
                           const CANDeviceInterface1::DeviceDescriptor& kf) {
    ConfigByteArray image;
    return front.getConfigParameters(&kf, image);
  });
}

void Configure(benchmark::internal::Benchmark* b) {
  b->UseManualTime()->Iterations(1)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond)
      ->ReportAggregatesOnly(true);
}

BENCHMARK(GetConfigRoundTrip)->Apply(Configure);
BENCHMARK(SetConfigRoundTrip)->Apply(Configure);
BENCHMARK(EngineSave)->Apply(Configure);
BENCHMARK(EngineGet)->Apply(Configure)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
