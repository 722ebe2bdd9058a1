#pragma once
// The messages that say why a SocketCAN interface cannot be used and what fixes it. A real
// adapter and a virtual bus (vcan) need different commands, so each gets its own advice.
#include <string>

enum class SocketCanProblem {
  kInvalidName,      // empty, or too long for a Linux interface name
  kNoKernelSupport,  // socket(PF_CAN) refused: the can / can_raw modules are not loaded
  kSocketFailed,     // socket(PF_CAN) failed for another reason (errno given)
  kNoSuchInterface,
  kNotCan,           // the interface exists but is not a CAN interface (lo, eth0)
  kInterfaceDown,
  kBindFailed,       // errno given
};

// The full message, starting with "SocketCAN". `error` is the errno where the problem has one.
std::string SocketCanAdvice(SocketCanProblem problem, const std::string& interfaceName,
                            int error = 0);

// The command that brings a real CAN adapter up at the devices' bit rate.
std::string SocketCanAdapterUpCommand(const std::string& interfaceName);
