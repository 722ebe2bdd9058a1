#pragma once
#include <memory>
#include <optional>
#include <string>

#include "canmux/bus_faults.h"

class VirtualBus;

// Chooses and installs the CAN backend the host was asked for, and the bus trace.
class CanSetup {
 public:
  // `backendName`: "none", "socketcan:IFACE", "sim" or "sim:FILE".
  bool install(const std::string& backendName, const std::string& tracePath, std::string& error,
               bool traceDirection = false);
  // Faults for the simulated bus's link to the server, in place of a device file's; install()
  // refuses them for any other backend.
  void setBusFaults(const BusFaults& faults) { busFaults_ = faults; }
  // Stops the bus threads before the process exits.
  void shutdown();
  const std::string& description() const { return description_; }
  // What the simulated bus's faults did ("sent: 3 dropped, ..."); empty without faults.
  std::string faultCountsText() const;

 private:
  std::string description_;
  std::optional<BusFaults> busFaults_;
  std::shared_ptr<VirtualBus> lossyBus_;  // the simulated bus, when it has faults
};
