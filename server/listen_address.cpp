#include "server/listen_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <mutex>

namespace quor::tessera::networking {

namespace {

std::mutex g_listenAddressMutex;
ListenAddress g_listenAddress;

}  // namespace

std::string ListenAddress::text() const {
  switch (kind) {
    case Kind::kEveryIpv4:
      return "all IPv4 addresses";
    case Kind::kEveryAddress:
      return "all addresses (IPv4 and IPv6)";
    case Kind::kOne:
      break;
  }
  char host[NI_MAXHOST] = "";
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                    nullptr, 0, NI_NUMERICHOST) != 0)
    return "?";
  return host;
}

bool ParseListenAddress(const std::string& text, ListenAddress& out) {
  std::string numeric = text;
  if (numeric.size() > 2 && numeric.front() == '[' && numeric.back() == ']')
    numeric = numeric.substr(1, numeric.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (numeric.empty() || ::getaddrinfo(numeric.c_str(), nullptr, &hints, &found) != 0) return false;
  ListenAddress parsed;
  std::memcpy(&parsed.address, found->ai_addr, found->ai_addrlen);
  parsed.length = found->ai_addrlen;
  ::freeaddrinfo(found);
  if (parsed.address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(parsed.address);
    parsed.kind = v4.sin_addr.s_addr == htonl(INADDR_ANY) ? ListenAddress::Kind::kEveryIpv4
                                                           : ListenAddress::Kind::kOne;
  } else {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(parsed.address);
    parsed.kind = IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) ? ListenAddress::Kind::kEveryAddress
                                                        : ListenAddress::Kind::kOne;
  }
  out = parsed;
  return true;
}

void SetListenAddress(const ListenAddress& address) {
  std::lock_guard<std::mutex> hold(g_listenAddressMutex);
  g_listenAddress = address;
}

ListenAddress GetListenAddress() {
  std::lock_guard<std::mutex> hold(g_listenAddressMutex);
  return g_listenAddress;
}

uint32_t PeerKey(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET) return reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr;
  if (peer.ss_family != AF_INET6) return 0;
  const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
  uint32_t words[4];
  std::memcpy(words, address.s6_addr, sizeof words);
  if (IN6_IS_ADDR_V4MAPPED(&address)) return words[3];
  return words[0] ^ words[1] ^ words[2] ^ words[3];
}

}  // namespace quor::tessera::networking
