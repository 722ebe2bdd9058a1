#pragma once
// A minimal blocking HTTP client over a real TCP socket, for tests: it sends raw bytes and
// reads one response framed by its Content-Length, with deadlines on every wait.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/wait_until.h"

namespace tessera_test {

struct HttpResponse {
  std::string head;  // status line and header lines, up to and including the blank line
  std::string body;
};

class HttpConnection {
 public:
  // `source`, a loopback address such as "127.0.0.2", makes the connection come from another
  // peer address as the server sees it.
  explicit HttpConnection(int port, const char* source = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (source != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, source, &local.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~HttpConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool connected() const { return fd_ >= 0; }

  bool sendRaw(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  // One response, or nothing when none arrives within the deadline.
  std::optional<HttpResponse> readResponse(std::chrono::milliseconds deadline =
                                               std::chrono::milliseconds(5000)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      const size_t headEnd = pending_.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        HttpResponse response;
        response.head = pending_.substr(0, headEnd + 4);
        const size_t length = contentLength(response.head);
        if (pending_.size() >= headEnd + 4 + length) {
          response.body = pending_.substr(headEnd + 4, length);
          pending_.erase(0, headEnd + 4 + length);
          return response;
        }
      }
      if (!readMore(until)) return std::nullopt;
    }
  }

  // True when the server closed the connection within the deadline.
  bool closedByPeer(std::chrono::milliseconds deadline = std::chrono::milliseconds(3000)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (readMore(until)) {
    }
    return peerClosed_;
  }

  // True when nothing arrives within `quiet`.
  bool silentFor(std::chrono::milliseconds quiet) {
    const size_t before = pending_.size();
    readMore(std::chrono::steady_clock::now() + quiet);
    return pending_.size() == before && !peerClosed_;
  }

  std::optional<HttpResponse> get(const std::string& target) {
    if (!sendRaw("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n")) return std::nullopt;
    return readResponse();
  }

 private:
  static size_t contentLength(const std::string& head) {
    const size_t at = head.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
  }

  bool readMore(std::chrono::steady_clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[8192];
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      peerClosed_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::string pending_;
  bool peerClosed_ = false;
};

// Waits until something accepts TCP connections on the port, or the deadline passes.
inline bool WaitForListening(int port, std::chrono::milliseconds deadline) {
  return WaitUntil([port] { return HttpConnection(port).connected(); }, deadline,
                   std::chrono::milliseconds(5));
}

// One GET on a connection of its own; the answer's JSON body, discarded (is_discarded()) when no
// answer came or it was not JSON.
inline nlohmann::json GetJson(int port, const std::string& target) {
  HttpConnection connection(port);
  const auto response = connection.get(target);
  if (!response) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(response->body, nullptr, false);
}

}  // namespace tessera_test
