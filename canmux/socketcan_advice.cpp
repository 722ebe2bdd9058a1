#include "canmux/socketcan_advice.h"

#include <cstring>

namespace {

// The devices' bus runs at 1 Mbit/s.
constexpr const char* kBitRate = "1000000";
constexpr const char* kVirtualPrefix = "vcan";
constexpr const char* kDefaultVirtualName = "vcan0";

bool looksVirtual(const std::string& name) { return name.rfind(kVirtualPrefix, 0) == 0; }

std::string quoted(const std::string& command) { return "`" + command + "`"; }

std::string createVirtualBus(const std::string& name) {
  return quoted("sudo modprobe vcan; sudo ip link add dev " + name +
                " type vcan; sudo ip link set " + name + " up");
}

std::string missingInterface(const std::string& name) {
  const std::string text = "SocketCAN interface " + name + " does not exist. ";
  if (looksVirtual(name)) return text + "Create the virtual bus: " + createVirtualBus(name);
  return text + "For a CAN adapter: connect it (and load its driver), then " +
         quoted(SocketCanAdapterUpCommand(name)) + ". For a virtual bus instead: " +
         createVirtualBus(kDefaultVirtualName) + ", then use socketcan:" + kDefaultVirtualName;
}

std::string interfaceDown(const std::string& name) {
  const std::string text = "SocketCAN interface " + name + " is down: ";
  const std::string virtualUp = quoted("sudo ip link set " + name + " up");
  if (looksVirtual(name)) return text + "bring it up with " + virtualUp;
  return text + "bring the adapter up with " + quoted(SocketCanAdapterUpCommand(name)) +
         " (a virtual bus: " + virtualUp + ")";
}

}  // namespace

std::string SocketCanAdapterUpCommand(const std::string& name) {
  return "sudo ip link set " + name + " up type can bitrate " + kBitRate;
}

std::string SocketCanAdvice(SocketCanProblem problem, const std::string& name, int error) {
  const std::string reason = error != 0 ? std::string(" (") + std::strerror(error) + ")" : "";
  switch (problem) {
    case SocketCanProblem::kInvalidName:
      return "SocketCAN interface name \"" + name +
             "\" is not valid: use socketcan:IFACE, for example socketcan:can0";
    case SocketCanProblem::kNoKernelSupport:
      return "SocketCAN cannot open " + name + ": this kernel has no CAN support: load the can "
             "and can_raw modules, e.g. `sudo modprobe can_raw`";
    case SocketCanProblem::kSocketFailed:
      return "SocketCAN cannot open a CAN socket for " + name + reason;
    case SocketCanProblem::kNoSuchInterface:
      return missingInterface(name);
    case SocketCanProblem::kNotCan:
      return "SocketCAN interface " + name + " is not a CAN interface: name a CAN adapter "
             "(can0) or a virtual CAN bus (vcan0)";
    case SocketCanProblem::kInterfaceDown:
      return interfaceDown(name);
    case SocketCanProblem::kBindFailed:
      return "SocketCAN cannot bind to " + name + reason;
  }
  return "SocketCAN cannot use " + name + reason;
}
