#include "host/can_setup.h"

#include <memory>

#include "canmux/backend_factory.h"
#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#ifdef TESSERA_HAVE_SIM
#include "sim/sim_backend.h"
#endif

namespace {

constexpr const char* kSimPrefix = "sim";
// Every backend the host offers, the simulator's included.
#ifdef TESSERA_HAVE_SIM
constexpr const char* kHostBackendNames =
    "none, socketcan:IFACE, udp_multicast[:GROUP[:PORT]], sim or sim:FILE";
#else
constexpr const char* kHostBackendNames = "none, socketcan:IFACE or udp_multicast[:GROUP[:PORT]]";
#endif

bool isSimBackendName(const std::string& backendName) {
  return backendName == kSimPrefix || backendName.rfind(std::string(kSimPrefix) + ":", 0) == 0;
}

}  // namespace

bool CanSetup::install(const std::string& backendName, const std::string& tracePath, std::string& error,
                       bool traceDirection) {
  std::shared_ptr<CanBackend> backend;
  if (isSimBackendName(backendName)) {
#ifdef TESSERA_HAVE_SIM
    const std::string file = backendName.size() > 4 ? backendName.substr(4) : std::string();
    if (file.empty() && backendName != kSimPrefix) {
      error = "--can " + backendName + ": the device file name is empty: use sim (the built-in " +
              "robot) or sim:FILE";
      return false;
    }
    backend = MakeSimBackend(file, &error, busFaults_ ? &*busFaults_ : nullptr);
    description_ = file.empty() ? "sim (built-in robot)" : "sim (devices from " + file + ")";
    auto bus = std::dynamic_pointer_cast<VirtualBus>(backend);
    if (bus && bus->faults().any()) {
      lossyBus_ = bus;
      description_ += ", faults: " + DescribeBusFaults(bus->faults());
    }
#else
    error = "--can " + backendName + ": this build has no simulator";
    return false;
#endif
  } else if (IsCanBackendName(backendName)) {
    if (busFaults_) {
      error = "--bus-faults needs the simulated bus (--can sim or --can sim:FILE)";
      return false;
    }
    backend = MakeCanBackend(backendName, &error);
    description_ = backendName;
  } else {
    error = "unknown CAN backend \"" + backendName + "\": use " + kHostBackendNames;
    return false;
  }
  if (!backend) {
    if (error.empty()) error = "--can " + backendName + ": backend could not be opened";
    return false;
  }
  CanMux_SetBackend(backend);
  if (!tracePath.empty() && !CanMux_SetTrace(tracePath, &error, traceDirection)) return false;
  return true;
}

std::string CanSetup::faultCountsText() const {
  return lossyBus_ ? lossyBus_->faultCountsText() : std::string();
}

void CanSetup::shutdown() {
  CanMuxDispose();
  std::string ignored;
  CanMux_SetTrace("", &ignored);  // flushes and closes the trace file, and says what it lost
}
