#pragma once
// Listens on one TCP port, gives every connection a thread of its own, and answers each
// complete request with an HTTP/1.1 200 response on the same kept-alive connection.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "server/http_response_data.h"

namespace quor::tessera::networking {

class TCPServer {
 public:
  static constexpr int kListenBacklog = 5;
  static constexpr size_t kReadBufferBytes = 4096;  // one read takes at most 4095 bytes
  // Connections beyond this are closed at once: a flood must not exhaust threads.
  static constexpr int kMaxConnections = 256;
  static constexpr int32_t kMaxPort = 65535;

  TCPServer() = default;
  virtual ~TCPServer();
  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  // Opens the listening socket on `port` (0 picks a free port) and starts the accept thread.
  // A port outside 0..65535 is not listened on.
  void setup(int32_t port);
  // Closes the listening socket, ends the accept thread and shuts every open connection down.
  void detach();

  // The port actually listened on (differs from the requested one only for port 0); -1 when
  // not listening.
  int32_t boundPort() const { return boundPort_.load(); }
  // Connections currently served.
  int activeConnections() const;

  // The handler: writes the JSON body into `body` and clears `*sendResponse` when no answer is
  // due yet.
  virtual void GetHttpResponse(char* bytes, int32_t count, std::stringstream& body,
                               bool* sendResponse, HttpResponseData* record) = 0;

  // The complete response for a JSON body: status line and fixed header lines.
  static std::string BuildHttpResponse(const std::string& body);

 private:
  static void LauchThread_s(TCPServer* server);
  static void Task_s(TCPServer* server, int socket);
  void receive();
  void Task(int socket);
  void forgetConnection(int socket);

  std::atomic<int> listeningSocket_{-1};
  std::atomic<int32_t> boundPort_{-1};
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;

  mutable std::mutex connectionsMutex_;
  std::condition_variable connectionsChanged_;
  std::set<int> openConnections_;
};

}  // namespace quor::tessera::networking
