#include "host/host_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool parseInt(const std::string& text, long minimum, long maximum, int32_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < minimum || value > maximum) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

const char* HostUsage() {
  return "usage: tessera-diag-server [--port N] [--bind ADDRESS] [--start-delay S]\n"
         "                           [--can BACKEND] [--bus-faults FAULTS] [--search-dir DIR]\n"
         "                           [--trace FILE] [--trace-direction] [--verbose]\n"
         "                           [--version]\n"
         "  --port N         TCP port to listen on (default 1250; 0 picks a free port)\n"
         "  --bind ADDRESS   listen only on this IPv4 or IPv6 address, e.g. 127.0.0.1 or ::1\n"
         "                   (default: all addresses, IPv4 and IPv6)\n"
         "  --start-delay S  seconds before the server starts listening (default 5)\n"
         "  --can BACKEND    socketcan:IFACE | udp_multicast[:GROUP[:PORT]] | sim | sim:FILE |\n"
         "                   none (default socketcan:can0; sim: a simulated robot, to try it\n"
         "                   without hardware; udp_multicast: a bus between the processes of\n"
         "                   this machine, e.g. with tessera-sim)\n"
         "  --bus-faults FAULTS  drop, duplicate or delay frames of the simulated bus, e.g.\n"
         "                   drop=1%,seed=7 or received.drop=5%,sent.delay=1%,delay-ms=20\n"
         "  --search-dir DIR directory of uploaded firmware and configuration files\n"
         "  --trace FILE     write every CAN frame in candump log format\n"
         "  --trace-direction  end each trace line in R (received) or T (sent)\n"
         "  --verbose        debug prints on standard output\n"
         "  --version        print the version and exit\n";
}

bool ParseHostOptions(int argc, char** argv, HostOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const bool hasValue = i + 1 < argc;
    auto value = [&]() { return std::string(argv[++i]); };
    if (flag == "--help" || flag == "-h") {
      options.showHelp = true;
    } else if (flag == "--version") {
      options.showVersion = true;
    } else if (flag == "--trace-direction") {
      options.traceDirection = true;
    } else if (flag == "--verbose") {
      options.verbose = true;
    } else if (flag == "--port" && hasValue) {
      if (!parseInt(value(), 0, 65535, options.port)) {
        error = "--port needs a number from 0 to 65535";
        return false;
      }
    } else if (flag == "--start-delay" && hasValue) {
      if (!parseInt(value(), 0, INT_MAX / 1000, options.startDelaySeconds)) {
        error = "--start-delay needs a number of seconds, 0 or more";
        return false;
      }
    } else if (flag == "--bind" && hasValue) {
      const std::string address = value();
      if (!quor::tessera::networking::ParseListenAddress(address, options.bind)) {
        error = "--bind needs a numeric IPv4 or IPv6 address such as 127.0.0.1 or ::1, not \"" +
                address + "\"";
        return false;
      }
    } else if (flag == "--can" && hasValue) {
      options.can = value();
    } else if (flag == "--bus-faults" && hasValue) {
      BusFaults faults;
      if (!ParseBusFaults(value(), &faults, &error)) {
        error = "--bus-faults: " + error;
        return false;
      }
      options.busFaults = faults;
    } else if (flag == "--search-dir" && hasValue) {
      options.searchDir = value();
    } else if (flag == "--trace" && hasValue) {
      options.tracePath = value();
    } else {
      error = "unknown or incomplete argument: " + flag;
      return false;
    }
  }
  return true;
}
