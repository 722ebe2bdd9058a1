#pragma once
// Where the TCP server listens. The library listens on every IPv4 address, as designed; the
// host may narrow that to one address (IPv4 or IPv6) or widen it to every address of both
// families.
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace quor::tessera::networking {

struct ListenAddress {
  enum class Kind {
    kEveryIpv4,     // 0.0.0.0: the library's own behaviour
    kEveryAddress,  // :: accepting IPv4 too; every IPv4 address where the kernel has no IPv6
    kOne,           // one address as given
  };
  Kind kind = Kind::kEveryIpv4;
  sockaddr_storage address{};  // kOne: the address, port 0
  socklen_t length = 0;

  // "all addresses (IPv4 and IPv6)", "127.0.0.1", "::1".
  std::string text() const;
};

// Reads "ADDRESS" as a numeric IPv4 or IPv6 address ("127.0.0.1", "::1", "[::1]",
// "fe80::1%eth0"); "0.0.0.0" means every IPv4 address, "::" every address. False for anything
// else (names are not looked up: a listener must not depend on a resolver).
bool ParseListenAddress(const std::string& text, ListenAddress& out);

// Read by every later TCPServer::setup; the host sets it before the server starts.
void SetListenAddress(const ListenAddress& address);
ListenAddress GetListenAddress();

// A 32-bit name of a peer for the per-peer connection limit: the IPv4 address itself (also
// when it arrives IPv4-mapped on an IPv6 socket), the IPv6 address folded.
uint32_t PeerKey(const sockaddr_storage& peer);

}  // namespace quor::tessera::networking
