#pragma once
// A UDP-multicast bus of its own for one test: a group and port no other test (or other run
// of this one, on this machine or on the network) is likely to use at the same time.
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

namespace tessera_test {

// "239.255.A.B:PORT", for `--can udp_multicast:...` (an administratively scoped IPv4 group).
inline std::string FreshUdpMulticastBus() {
  std::mt19937 random(static_cast<unsigned>(getpid()) ^
                      static_cast<unsigned>(
                          std::chrono::steady_clock::now().time_since_epoch().count()));
  const unsigned a = random() % 256, b = 1 + random() % 254;
  const unsigned port = 20000 + random() % 40000;
  return "239.255." + std::to_string(a) + "." + std::to_string(b) + ":" + std::to_string(port);
}

}  // namespace tessera_test
