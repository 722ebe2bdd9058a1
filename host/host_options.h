#pragma once
#include <cstdint>
#include <string>

// Command line of tessera-diag-server.
struct HostOptions {
  int32_t port = 1250;
  int32_t startDelaySeconds = 5;
  std::string can = "sim";
  std::string searchDir;
  std::string tracePath;
  bool traceDirection = false;  // " R"/" T" at the end of every trace line
  bool verbose = false;
  bool showHelp = false;
};

// Parses argv; on a bad argument returns false and sets `error`.
bool ParseHostOptions(int argc, char** argv, HostOptions& options, std::string& error);

const char* HostUsage();
