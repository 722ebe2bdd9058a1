#pragma once
#include <string>

// Command line of tessera-sim.
struct SimOptions {
  std::string can;         // "socketcan:IFACE" (or "none"); required
  std::string deviceFile;  // empty: the built-in robot
  std::string tracePath;
  bool showHelp = false;
};

// Parses argv; on a bad or missing argument returns false and sets `error`.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

const char* SimUsage();
