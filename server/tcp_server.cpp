#include "server/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

#include "runtime/diag_print.h"
#include "runtime/thread_name.h"

namespace quor::tessera::networking {

namespace {

// After a transient accept failure (no descriptors left, say) try again after this pause
// rather than spin.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(10);

constexpr const char* kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

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
  if (port < 0 || port > kMaxPort) {
    // Cut to 16 bits it would listen on some other, unrelated port.
    diag_printf("port %d is not a TCP port\r\n", port);
    return;
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  diag_printf("socket return: %d\r\n", listener);
  if (listener < 0) return;
  const int reuse = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const int bound = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  diag_printf("bind returned: %d\r\n", bound == 0 ? 0 : errno);
  diag_printf("bind was called %d times\r\n", 1);
  diag_printf("\r\n\r\n\r\n\r\n\r\n");
  if (bound != 0 || ::listen(listener, kListenBacklog) != 0) {
    ::close(listener);
    return;
  }
  socklen_t length = sizeof(address);
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    boundPort_ = ntohs(address.sin_port);
  listeningSocket_ = listener;
  acceptThread_ = std::thread(&TCPServer::LauchThread_s, this);
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
  for (int socket : openConnections_) ::shutdown(socket, SHUT_RDWR);
  connectionsChanged_.wait(hold, [this] { return openConnections_.empty(); });
}

int TCPServer::activeConnections() const {
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  return static_cast<int>(openConnections_.size());
}

void TCPServer::LauchThread_s(TCPServer* server) {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP accept thread");
  server->receive();
}

void TCPServer::receive() {
  const int listener = listeningSocket_.load();
  while (!stopping_) {
    const int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
      if (stopping_ || errno == EBADF || errno == EINVAL || errno == ENOTSOCK) return;
      if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    {
      std::lock_guard<std::mutex> hold(connectionsMutex_);
      if (stopping_ || static_cast<int>(openConnections_.size()) >= kMaxConnections) {
        ::close(socket);
        continue;
      }
      openConnections_.insert(socket);
    }
    try {
      std::thread(&TCPServer::Task_s, this, socket).detach();
    } catch (const std::system_error&) {
      // No thread to serve it: drop this connection and keep accepting.
      forgetConnection(socket);
      ::close(socket);
    }
  }
}

void TCPServer::Task_s(TCPServer* server, int socket) {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP recv");
  server->Task(socket);
}

void TCPServer::forgetConnection(int socket) {
  // Notify under the lock: once the set is empty, detach may return and the server go away.
  std::lock_guard<std::mutex> hold(connectionsMutex_);
  openConnections_.erase(socket);
  connectionsChanged_.notify_all();
}

void TCPServer::Task(int socket) {
  HttpResponseData record;
  char buffer[kReadBufferBytes];
  for (;;) {
    const ssize_t count = ::recv(socket, buffer, kReadBufferBytes - 1, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    buffer[count] = '\0';
    std::stringstream body;
    bool sendResponse = false;
    try {
      GetHttpResponse(buffer, static_cast<int32_t>(count), body, &sendResponse, &record);
    } catch (const std::exception& e) {
      // A request that fails this way (out of memory, say) ends its own connection, never the
      // whole process.
      diag_printf("connection closed: %s\r\n", e.what());
      break;
    }
    if (sendResponse && !sendAll(socket, BuildHttpResponse(body.str()))) break;
    if (record.closeAfterResponse) break;
    if (record.continueRequested) {
      // The client holds its body back until told to go on; without this it waits about a
      // second, long enough to trip the gap rule between body chunks.
      record.continueRequested = false;
      if (!sendAll(socket, kContinueResponse)) break;
    }
  }
  forgetConnection(socket);
  ::close(socket);
}

}  // namespace quor::tessera::networking
