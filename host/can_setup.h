#pragma once
#include <string>

// Chooses and installs the CAN backend the host was asked for, and the bus trace.
class CanSetup {
 public:
  // `backendName`: "none", "socketcan:IFACE", "sim" or "sim:FILE".
  bool install(const std::string& backendName, const std::string& tracePath, std::string& error,
               bool traceDirection = false);
  // Stops the bus threads before the process exits.
  void shutdown();
  const std::string& description() const { return description_; }

 private:
  std::string description_;
};
