#include "server/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>

#include "runtime/diag_print.h"
#include "runtime/monotonic_clock.h"
#include "runtime/thread_name.h"
#include "server/request_framing.h"

namespace quor::tessera::networking {

namespace {

// After a transient accept failure (no descriptors left, say) try again after this pause
// rather than spin.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(10);

constexpr const char* kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

// The kernel cuts a larger backlog to the system's maximum (net.core.somaxconn); a small one
// makes a burst of clients wait a second for the retransmission of their dropped SYN.
constexpr int kListenBacklog = INT_MAX;

// A peer that reads none of its answers holds its connection thread in send; after this long
// without progress the connection is given up.
constexpr int kSendStallSeconds = 10;

// A connection closed while its peer is still sending would be reset, and the reset can
// destroy the answer that explains why; so the server stops writing and reads (and drops)
// what still comes for at most this long before it closes.
constexpr int kLingerMs = 1000;

// Sanitizer instrumentation makes stack frames several times larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackScale = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kStackScale = 4;
#else
constexpr size_t kStackScale = 1;
#endif
#else
constexpr size_t kStackScale = 1;
#endif

struct ConnectionStart {
  TCPServer* server;
  int socket;
};

void lingerBeforeClose(int socket) {
  ::shutdown(socket, SHUT_WR);
  const int64_t untilMs = runtime::MonotonicMillis() + kLingerMs;
  char sink[4096];
  for (;;) {
    const int64_t leftMs = untilMs - runtime::MonotonicMillis();
    pollfd readable{socket, POLLIN, 0};
    if (leftMs <= 0 || ::poll(&readable, 1, static_cast<int>(leftMs)) <= 0) return;
    if (::recv(socket, sink, sizeof(sink), 0) <= 0) return;
  }
}

bool setReceiveTimeout(int socket, int32_t milliseconds) {
  const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) == 0;
}

bool sendAll(int socket, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TCPServer::~TCPServer() { detach(); }

std::string TCPServer::BuildHttpResponse(const std::string& body) {
  std::string response;
  response.reserve(body.size() + 160);
  response += "HTTP/1.1 200 OK\r\n";
  response += "Connection: keep-alive\r\n";
  response += "Content-Type: application/json\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "Cache-Control: no-cache, no-store\r\n";
  response += "\r\n";
  response += body;
  return response;
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
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  diag_printf("socket return: %d\r\n", listener);
  if (listener < 0) {
    failSetup(port, std::strerror(errno));
    return;
  }
  const int reuse = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const int bindError =
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 ? 0 : errno;
  diag_printf("bind returned: %d\r\n", bindError);
  diag_printf("bind was called %d times\r\n", 1);
  diag_printf("\r\n\r\n\r\n\r\n\r\n");
  const int error =
      bindError != 0 ? bindError : (::listen(listener, kListenBacklog) == 0 ? 0 : errno);
  if (error != 0) {
    failSetup(port, std::strerror(error));
    ::close(listener);
    return;
  }
  socklen_t length = sizeof(address);
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    boundPort_ = ntohs(address.sin_port);
  listeningSocket_ = listener;
  acceptThread_ = std::thread(&TCPServer::LauchThread_s, this);
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

  // Connection threads own their sockets; shutting them down makes their reads end, and each
  // thread closes its own descriptor, so none is closed twice or reused under a reader. Wait
  // for all of them: a thread still answering must not outlive the handler it calls (device
  // operations all end within their own deadlines).
  std::unique_lock<std::mutex> hold(connectionsMutex_);
  for (const auto& open : openConnections_) ::shutdown(open.first, SHUT_RDWR);
  connectionsChanged_.wait(hold, [this] { return openConnections_.empty(); });
}

int TCPServer::activeConnections() const {
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  return static_cast<int>(openConnections_.size());
}

void TCPServer::setDeadlines(const ConnectionDeadlines& deadlines) {
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  deadlines_ = deadlines;
}

void TCPServer::LauchThread_s(TCPServer* server) {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP accept thread");
  server->receive();
}

void TCPServer::receive() {
  const int listener = listeningSocket_.load();
  while (!stopping_) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof(peer);
    const int socket =
        ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    if (socket < 0) {
      if (stopping_ || errno == EBADF || errno == EINVAL || errno == ENOTSOCK) return;
      if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    if (!admitConnection(socket, peer.sin_addr.s_addr)) {
      ::close(socket);
      continue;
    }
    const timeval sendStall{kSendStallSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &sendStall, sizeof(sendStall));
    if (!startConnectionThread(socket)) {
      // No thread to serve it: drop this connection and keep accepting.
      forgetConnection(socket);
      ::close(socket);
    }
  }
}

bool TCPServer::admitConnection(int socket, uint32_t peer) {
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  if (stopping_ || static_cast<int>(openConnections_.size()) >= kMaxConnections ||
      connectionsPerPeer_[peer] >= kMaxConnectionsPerPeer) {
    if (connectionsPerPeer_[peer] == 0) connectionsPerPeer_.erase(peer);
    return false;
  }
  openConnections_.emplace(socket, peer);
  ++connectionsPerPeer_[peer];
  return true;
}

bool TCPServer::startConnectionThread(int socket) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  ::pthread_attr_setstacksize(&attributes, kConnectionStackBytes * kStackScale);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto* start = new ConnectionStart{this, socket};
  pthread_t thread;
  const int created = ::pthread_create(&thread, &attributes, &TCPServer::ConnectionThreadEntry, start);
  ::pthread_attr_destroy(&attributes);
  if (created != 0) delete start;
  return created == 0;
}

void* TCPServer::ConnectionThreadEntry(void* start) {
  const ConnectionStart connection = *static_cast<ConnectionStart*>(start);
  delete static_cast<ConnectionStart*>(start);
  Task_s(connection.server, connection.socket);
  return nullptr;
}

void TCPServer::Task_s(TCPServer* server, int socket) {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP recv");
  server->Task(socket);
}

void TCPServer::forgetConnection(int socket) {
  // Notify under the lock: once the set is empty, detach may return and the server go away.
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  const auto open = openConnections_.find(socket);
  if (open != openConnections_.end()) {
    const auto perPeer = connectionsPerPeer_.find(open->second);
    if (perPeer != connectionsPerPeer_.end() && --perPeer->second <= 0)
      connectionsPerPeer_.erase(perPeer);
    openConnections_.erase(open);
  }
  connectionsChanged_.notify_all();
}

void TCPServer::Task(int socket) {
  HttpResponseData record;
  {
    std::lock_guard<std::mutex> hold(connectionsMutex_);
    record.deadlines = deadlines_;
  }
  record.idleSinceMs = FramingClockMs();
  char buffer[kReadBufferBytes];
  int32_t armedMs = 0;
  for (;;) {
    // Every read ends at the connection's deadline; framing then decides whether the peer is
    // answered, closed, or (woken early) still waited for. The receive time-out is set only
    // when it changes, which between kept-alive requests it rarely does: one call per read.
    const int32_t waitMs = MillisUntilDeadline(record, FramingClockMs());
    ssize_t count = 0;
    if (waitMs > 0) {
      if (waitMs != armedMs && !setReceiveTimeout(socket, waitMs)) break;
      armedMs = waitMs;
      count = ::recv(socket, buffer, kReadBufferBytes - 1, 0);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) count = 0;  // the deadline
      else if (count <= 0) break;
    }
    if (!answerArrived(socket, record, buffer, static_cast<int32_t>(count))) {
      if (record.closeAfterResponse) lingerBeforeClose(socket);
      break;
    }
  }
  forgetConnection(socket);
  ::close(socket);
}

bool TCPServer::answerArrived(int socket, HttpResponseData& record, char* bytes, int32_t count) {
  bool sendResponse = false;
  do {
    bytes[count] = '\0';
    std::stringstream body;
    sendResponse = false;
    try {
      GetHttpResponse(bytes, count, body, &sendResponse, &record);
    } catch (const std::exception& e) {
      // A request that fails this way (out of memory, say) ends its own connection, never the
      // whole process.
      diag_printf("connection closed: %s\r\n", e.what());
      return false;
    }
    if (sendResponse && !sendAll(socket, BuildHttpResponse(body.str()))) return false;
    // An answered upload gives its memory back at once, not when the connection ends.
    if (sendResponse && !record.receiving) record.body.release();
    if (record.closeAfterResponse) return false;
    if (record.continueRequested) {
      // The client holds its body back until told to go on; without this it waits about a
      // second, long enough to trip the gap rule between body chunks.
      record.continueRequested = false;
      if (!sendAll(socket, kContinueResponse)) return false;
    }
    count = 0;  // the next pipelined request is already among the unframed bytes
  } while (sendResponse && !record.unframed.empty());
  return true;
}

}  // namespace quor::tessera::networking
