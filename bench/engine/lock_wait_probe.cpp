// How long a device operation waits for the device-interface lock while the background listing
// round runs, measured inside one process: the whole server on a simulated robot (built-in, or
// a device file), and at random moments a probe that takes the lock and lets it go at once.
// Then the same for "blink" called on the device interface, which waits for the lock and then
// sends its own exchanges. Prints median, p90, p99 and max in milliseconds.
//
//   bench_lock_wait [--robot FILE] [--samples N] [--devices N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "device/can_device_interface1.h"
#include "runtime/cs.h"
#include "server/tessera_diagnostics_server.h"
#include "sim/sim_backend.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Print(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
  };
  std::printf("%-10s n %zu  median %.2f  p90 %.2f  p99 %.2f  max %.2f ms\n", what, samples.size(),
              at(0.5), at(0.9), at(0.99), samples.back());
}

}  // namespace

int main(int argc, char** argv) {
  std::string robot;
  int samples = 100;
  int expected = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--robot") robot = argv[i + 1];
    else if (flag == "--samples") samples = std::atoi(argv[i + 1]);
    else if (flag == "--devices") expected = std::atoi(argv[i + 1]);
  }
  std::string error;
  auto bus = quor::tessera::sim::MakeSimBus(robot, &error);
  if (!bus) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CanMux_SetBackend(bus);
  int listed = 0;
  std::vector<CANDeviceInterface1::DeviceDescriptor> devices(64);
  {
    quor::tessera::diagnostics::TesseraDiagnosticsServer server(0, 0);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      listed = CANDeviceInterface1::getListOfDevices(devices.data(), 64);
      if (listed >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (listed < expected) {
      std::fprintf(stderr, "only %d of %d devices listed\n", listed, expected);
      return 1;
    }
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pause_ms(10, 150);
    std::vector<double> lockWaits;
    std::vector<double> blinks;
    for (int i = 0; i < samples; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
      const auto start = Clock::now();
      { CsH hold(_lck); }
      lockWaits.push_back(Milliseconds(Clock::now() - start));
    }
    for (int i = 0; i < samples; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
      const CANDeviceInterface1::DeviceDescriptor& device = devices[static_cast<size_t>(i % listed)];
      const auto start = Clock::now();
      CANDeviceInterface1::saveLightLed(&device, true);
      blinks.push_back(Milliseconds(Clock::now() - start));
    }
    Print("lock wait", lockWaits);
    Print("blink", blinks);
  }
  CanMux_SetBackend(nullptr);
  return 0;
}
