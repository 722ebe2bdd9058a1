#include "host/sim_options.h"

const char* SimUsage() {
  return "usage: tessera-sim --can BACKEND [--devices FILE] [--bus-faults FAULTS] [--trace FILE]\n"
         "  --can BACKEND   the bus the simulated devices join: socketcan:IFACE,\n"
         "                  udp_multicast[:GROUP[:PORT]] (or none)\n"
         "  --devices FILE  a device file (JSON) instead of the built-in robot\n"
         "  --bus-faults FAULTS  drop, duplicate or delay frames between the bus and the devices,\n"
         "                  e.g. drop=1%,seed=7 (as tessera-diag-server's)\n"
         "  --trace FILE    write every CAN frame in candump log format\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const bool hasValue = i + 1 < argc;
    if (flag == "--help" || flag == "-h") {
      options.showHelp = true;
    } else if (flag == "--can" && hasValue) {
      options.can = argv[++i];
    } else if (flag == "--devices" && hasValue) {
      options.deviceFile = argv[++i];
    } else if (flag == "--bus-faults" && hasValue) {
      BusFaults faults;
      if (!ParseBusFaults(argv[++i], &faults, &error)) {
        error = "--bus-faults: " + error;
        return false;
      }
      options.busFaults = faults;
    } else if (flag == "--trace" && hasValue) {
      options.tracePath = argv[++i];
    } else {
      error = "unknown or incomplete argument: " + flag;
      return false;
    }
  }
  if (options.showHelp) return true;
  if (options.can.empty()) {
    error = "--can is required, e.g. --can socketcan:vcan0 or --can udp_multicast";
    return false;
  }
  // The devices already live on their own virtual bus; a second one would hear nobody.
  if (options.can == "sim" || options.can.rfind("sim:", 0) == 0) {
    error = "--can " + options.can +
            ": tessera-sim joins a real bus; use socketcan:IFACE or udp_multicast[:GROUP[:PORT]]";
    return false;
  }
  return true;
}
