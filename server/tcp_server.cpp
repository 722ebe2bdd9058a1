#include "server/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "runtime/diag_print.h"
#include "runtime/thread_name.h"
#include "server/connection.h"
#include "server/event_loop.h"
#include "server/listen_address.h"
#include "server/serving_threads.h"

namespace quor::tessera::networking {

namespace {

// After a transient accept failure (no descriptors left, say) try again after this pause
// rather than spin.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(10);

// The kernel cuts a larger backlog to the system's maximum (net.core.somaxconn); a small one
// makes a burst of clients wait a second for the retransmission of their dropped SYN.
constexpr int kListenBacklog = INT_MAX;

// A connection's two registrations with the loop carry its table key; the timer's has this
// bit set as well (slots are far fewer than 2^31).
constexpr uint64_t kDeadlineTokenBit = uint64_t{1} << 31;

// One serving thread per core while requests are quick; two at least, so that one handler
// that takes long never leaves the loop unserved until another thread has been started.
int minimumServingThreads() {
  return static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

// A stream socket for `where` and `port`, its address in `address`; -1 with errno set when the
// socket cannot be made.
int openListeningSocket(const ListenAddress& where, uint16_t port, sockaddr_storage& address,
                        socklen_t& length) {
  address = {};
  if (where.kind == ListenAddress::Kind::kEveryAddress) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener >= 0) {
      const int v6only = 0;  // IPv4 peers too, as IPv4-mapped addresses
      ::setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only));
      auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
      v6.sin6_family = AF_INET6;
      v6.sin6_addr = in6addr_any;
      v6.sin6_port = htons(port);
      length = sizeof(v6);
      return listener;
    }
    // A kernel without IPv6 still serves every IPv4 address.
  }
  if (where.kind == ListenAddress::Kind::kOne) {
    address = where.address;
    length = where.length;
    if (address.ss_family == AF_INET6)
      reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    else
      reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    return ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl(INADDR_ANY);
  v4.sin_port = htons(port);
  length = sizeof(v4);
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

}  // namespace

TCPServer::TCPServer() : connections_(kMaxConnections, kMaxConnectionsPerPeer) {}

TCPServer::~TCPServer() { detach(); }

void TCPServer::WriteHttpResponse(char* bytes, int32_t count, std::string& body,
                                  bool* sendResponse, HttpResponseData* record) {
  std::stringstream stream;
  GetHttpResponse(bytes, count, stream, sendResponse, record);
  body += stream.str();
}

void TCPServer::setup(int32_t port) {
  detach();  // a second setup replaces the first listener
  stopping_ = false;
  failSetup(port, "");
  if (port < 0 || port > kMaxPort) {
    // Cut to 16 bits it would listen on some other, unrelated port.
    diag_printf("port %d is not a TCP port\r\n", port);
    failSetup(port, "not a TCP port (0 to 65535)");
    return;
  }
  sockaddr_storage address{};
  socklen_t length = 0;
  const int listener = openListeningSocket(GetListenAddress(), static_cast<uint16_t>(port),
                                           address, length);
  diag_printf("socket return: %d\r\n", listener);
  if (listener < 0) {
    failSetup(port, std::strerror(errno));
    return;
  }
  const int reuse = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));

  const int bindError =
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
  diag_printf("bind returned: %d\r\n", bindError);
  diag_printf("bind was called %d times\r\n", 1);
  diag_printf("\r\n\r\n\r\n\r\n\r\n");
  const int error =
      bindError != 0 ? bindError : (::listen(listener, kListenBacklog) == 0 ? 0 : errno);
  if (error != 0 || !startServing()) {
    failSetup(port, error != 0 ? std::strerror(error) : "no thread to serve connections");
    ::close(listener);
    return;
  }
  length = sizeof(address);
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    boundPort_ = ntohs(address.ss_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                           : reinterpret_cast<const sockaddr_in&>(address).sin_port);
  listeningSocket_ = listener;
  connections_.reopen();
  acceptThread_ = std::thread(&TCPServer::LauchThread_s, this);
}

bool TCPServer::startServing() {
  loop_ = std::make_unique<EventLoop>();
  servingThreads_ = std::make_unique<ServingThreads>(
      *loop_, [this](const epoll_event& ready) { serve(ready); }, kConnectionStackBytes);
  if (loop_->valid() && servingThreads_->start(minimumServingThreads(), kMaxConnections))
    return true;
  servingThreads_.reset();
  loop_.reset();
  return false;
}

void TCPServer::failSetup(int32_t port, const std::string& reason) {
  std::lock_guard<std::mutex> hold(setupErrorMutex_);
  setupError_ = reason.empty() ? reason : "port " + std::to_string(port) + ": " + reason;
}

std::string TCPServer::setupError() const {
  std::lock_guard<std::mutex> hold(setupErrorMutex_);
  return setupError_;
}

void TCPServer::detach() {
  stopping_ = true;
  const int listener = listeningSocket_.exchange(-1);
  if (listener >= 0) ::shutdown(listener, SHUT_RDWR);  // wakes the blocked accept
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listener >= 0) ::close(listener);
  boundPort_ = -1;
  closeConnections();
  // No connection is left to serve; the threads end once their handlers have returned.
  servingThreads_.reset();
  loop_.reset();
}

void TCPServer::closeConnections() {
  // A thread still answering on a connection must not outlive the handler it calls, so each
  // close waits for it (device operations all end within their own deadlines).
  for (const auto& [key, connection] : connections_.close()) {
    connection->close();
    connections_.remove(key);
  }
}

int TCPServer::activeConnections() const { return connections_.size(); }

int TCPServer::servingThreads() const {
  return servingThreads_ ? servingThreads_->count() : 0;
}

void TCPServer::setDeadlines(const ConnectionDeadlines& deadlines) {
  std::lock_guard<std::mutex> hold(deadlinesMutex_);
  deadlines_ = deadlines;
}

void TCPServer::LauchThread_s(TCPServer* server) {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP accept thread");
  server->receive();
}

void TCPServer::receive() {
  const int listener = listeningSocket_.load();
  while (!stopping_) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof(peer);
    const int socket = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (socket < 0) {
      if (stopping_ || errno == EBADF || errno == EINVAL || errno == ENOTSOCK) return;
      if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    openConnection(socket, PeerKey(peer));
  }
}

void TCPServer::openConnection(int socket, uint32_t peer) {
  const ConnectionTable::Key key = connections_.reserve(peer);
  if (key == ConnectionTable::kNoKey) {
    ::close(socket);  // over a limit: closed at once
    return;
  }
  ConnectionDeadlines deadlines;
  {
    std::lock_guard<std::mutex> hold(deadlinesMutex_);
    deadlines = deadlines_;
  }
  auto connection = std::make_shared<Connection>(socket, *this, deadlines);
  connections_.fill(key, connection);
  // Without a timer or a registration it could never be served: drop only this connection.
  if (!connection->open(*loop_, key, key | kDeadlineTokenBit)) {
    connection->close();
    connections_.remove(key);
  }
}

void TCPServer::serve(const epoll_event& ready) {
  const ConnectionTable::Key key = ready.data.u64 & ~kDeadlineTokenBit;
  const std::shared_ptr<Connection> connection = connections_.find(key);
  if (!connection) return;  // closed meanwhile: the event is stale
  const auto source = (ready.data.u64 & kDeadlineTokenBit) != 0 ? Connection::Source::kDeadline
                                                                 : Connection::Source::kSocket;
  char buffer[kReadBufferBytes];
  if (!connection->serve(source, buffer)) connections_.remove(key);
}

}  // namespace quor::tessera::networking
