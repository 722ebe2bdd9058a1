#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "canmux/bus_faults.h"
#include "server/listen_address.h"

// The robot's bus: a simulated robot is started only when asked for (`--can sim`), so a host run
// by hand on a robot never shows devices that are not there.
constexpr const char kDefaultCanBackend[] = "socketcan:can0";

// Command line of tessera-diag-server.
struct HostOptions {
  int32_t port = 1250;
  int32_t startDelaySeconds = 5;
  std::string can = kDefaultCanBackend;
  // Every address of both families unless --bind narrows it.
  quor::tessera::networking::ListenAddress bind{
      quor::tessera::networking::ListenAddress::Kind::kEveryAddress, {}, 0};
  std::optional<BusFaults> busFaults;  // --bus-faults: the simulated bus misbehaves
  std::string searchDir;
  std::string tracePath;
  bool traceDirection = false;  // " R"/" T" at the end of every trace line
  bool verbose = false;
  bool showHelp = false;
  bool showVersion = false;
};

// Parses argv; on a bad argument returns false and sets `error`.
bool ParseHostOptions(int argc, char** argv, HostOptions& options, std::string& error);

const char* HostUsage();
