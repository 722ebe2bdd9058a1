#pragma once
#include <optional>
#include <string>

#include "canmux/bus_faults.h"

// Command line of tessera-sim.
struct SimOptions {
  std::string can;         // "socketcan:IFACE" (or "none"); required
  std::string deviceFile;  // empty: the built-in robot
  std::string tracePath;
  std::optional<BusFaults> busFaults;  // the devices' link to the bus misbehaves
  bool showHelp = false;
};

// Parses argv; on a bad or missing argument returns false and sets `error`.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

const char* SimUsage();
