// tessera-sim: the simulated robot as a program of its own. The devices of the built-in robot,
// or of a device file, join a real CAN bus and answer a diagnostics server elsewhere on it,
// until SIGINT or SIGTERM.
#include <iostream>
#include <string>

#include "host/can_setup.h"
#include "host/console_log.h"
#include "host/sim_bridge.h"
#include "host/sim_options.h"
#include "host/stop_signal.h"
#include "sim/sim_backend.h"

namespace {

int fail(const std::string& error) {
  std::cerr << "tessera-sim: " << error << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::cerr << "tessera-sim: " << error << "\n" << SimUsage();
    return 2;
  }
  if (options.showHelp) {
    std::cout << SimUsage();
    return 0;
  }
  if (!InstallStopSignalHandlers(error)) return fail(error);
  PrintLogLinesOnConsole();

  CanSetup can;
  if (!can.install(options.can, options.tracePath, error)) return fail(error);
  // The real bus gives every frame its wire time. A second, simulated wire between it and the
  // devices would add its own and make every frame wait for a timer here, which on a starved
  // machine held the devices' answers past the server's 20 ms waits.
  auto devices = quor::tessera::sim::MakeSimBus(options.deviceFile, &error,
                                                options.busFaults ? &*options.busFaults : nullptr,
                                                VirtualBus::Timing::kInstant);
  if (!devices) return fail(error);
  SimBridge bridge(*devices);
  if (!bridge.start(&error)) return fail(error);
  std::cout << "[tessera-sim] " << devices->robot().deviceCount() << " simulated devices ("
            << (options.deviceFile.empty() ? "built-in robot" : options.deviceFile) << ") on "
            << can.description();
  if (devices->faults().any()) std::cout << ", faults: " << DescribeBusFaults(devices->faults());
  std::cout << "\n" << std::flush;

  const int signal = WaitForStopSignal();
  std::cout << "[tessera-sim] stopping on signal " << signal << "\n" << std::flush;
  bridge.stop();
  if (devices->faults().any())
    std::cout << "[tessera-sim] bus faults: " << devices->faultCountsText() << "\n";
  if (bridge.overflows() > 0) {
    std::cout << "[tessera-sim] frames from the bus were lost " << bridge.overflows()
              << " times (the bridge fell behind)\n";
  }
  if (bridge.framesNotSent() > 0) {
    std::cout << "[tessera-sim] frames of the devices the bus did not take: "
              << bridge.framesNotSent() << "\n";
  }
  if (devices->framesDropped() > 0) {
    std::cout << "[tessera-sim] frames lost on the devices' own bus (a queue was full): "
              << devices->framesDropped() << "\n";
  }
  devices.reset();  // the devices stop before the bus they send on
  can.shutdown();
  return 0;
}
