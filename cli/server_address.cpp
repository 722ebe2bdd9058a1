#include "cli/server_address.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/report.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

bool ParsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(text);
  return port >= 1 && port <= 65535;
}

// 0 when connected, else the errno of the failure; ETIMEDOUT when `until` passed first.
int TryConnect(const addrinfo& candidate, int64_t until) {
  const int fd = ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          candidate.ai_protocol);
  if (fd < 0) return errno;
  int error = ::connect(fd, candidate.ai_addr, candidate.ai_addrlen) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    const int64_t left = until - quor::tessera::runtime::MonotonicMillis();
    pollfd writable{fd, POLLOUT, 0};
    if (left <= 0 || ::poll(&writable, 1, static_cast<int>(left)) <= 0) {
      error = ETIMEDOUT;
    } else {
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    }
  }
  ::close(fd);
  return error;
}

}  // namespace

bool ParseServerAddress(const std::string& text, ServerAddress& address, std::string& error) {
  std::string host = text, port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
      error = "\"" + text + "\": write an IPv6 address with a port as [ADDRESS]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) port = text.substr(close + 2);
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
  }  // more colons: an IPv6 address without a port
  int number = address.port;
  if (host.empty() || (!port.empty() && !ParsePort(port, number)) ||
      (port.empty() && text.back() == ':')) {
    error = "\"" + text + "\" is not HOST or HOST:PORT with a port from 1 to 65535";
    return false;
  }
  address.host = host;
  address.port = number;
  return true;
}

std::string WhyNoConnection(const ServerAddress& address, std::chrono::milliseconds timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(),
                                     &hints, &found);
  if (resolved != 0)
    return "no such host (" + std::string(::gai_strerror(resolved)) + ")";
  const int64_t until = quor::tessera::runtime::MonotonicMillis() + timeout.count();
  int error = 0;
  for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
    error = TryConnect(*candidate, until);
    if (error == 0) break;
  }
  ::freeaddrinfo(found);
  if (error == 0) return "";
  if (error == ECONNREFUSED)
    return "connection refused (is tessera-diag-server running there, on this port?)";
  if (error == ETIMEDOUT) return "timed out after " + SecondsText(timeout);
  return std::strerror(error);
}

}  // namespace tessera::cli
