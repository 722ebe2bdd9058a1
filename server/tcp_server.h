#pragma once
// Listens on one TCP port, gives every connection a thread of its own, and answers each
// complete request with an HTTP/1.1 200 response on the same kept-alive connection.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "server/http_response_data.h"

namespace quor::tessera::networking {

class TCPServer {
 public:
  static constexpr size_t kReadBufferBytes = 4096;  // one read takes at most 4095 bytes
  // Connections beyond this are closed at once: a flood must not exhaust threads.
  static constexpr int kMaxConnections = 256;
  // One peer address may hold at most this many of them, so one host cannot take every slot:
  // four are needed to fill them all. A configuration tool uses two or three, a browser six,
  // a load tool some tens.
  static constexpr int kMaxConnectionsPerPeer = 64;
  // Connection threads get this stack instead of the system's 8 MiB default; the deepest
  // request path needs a small fraction of it.
  static constexpr size_t kConnectionStackBytes = 256 * 1024;
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
  // The deadlines every connection accepted from now on gets (tests shorten them).
  void setDeadlines(const ConnectionDeadlines& deadlines);
  // Why the last setup is not listening ("port 1250: Address already in use"); empty while it
  // listens or before any setup.
  std::string setupError() const;

  // The handler: writes the JSON body into `body` and clears `*sendResponse` when no answer is
  // due yet.
  virtual void GetHttpResponse(char* bytes, int32_t count, std::stringstream& body,
                               bool* sendResponse, HttpResponseData* record) = 0;

  // The complete response for a JSON body: status line and fixed header lines.
  static std::string BuildHttpResponse(const std::string& body);

 private:
  static void LauchThread_s(TCPServer* server);
  static void Task_s(TCPServer* server, int socket);
  static void* ConnectionThreadEntry(void* start);
  void receive();
  bool admitConnection(int socket, uint32_t peer);
  bool startConnectionThread(int socket);
  void Task(int socket);
  // Frames and answers, in order, every request complete in what has arrived. False when the
  // connection is to end.
  bool answerArrived(int socket, HttpResponseData& record, char* bytes, int32_t count);
  void forgetConnection(int socket);
  void failSetup(int32_t port, const std::string& reason);

  std::atomic<int> listeningSocket_{-1};
  std::atomic<int32_t> boundPort_{-1};
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex setupErrorMutex_;
  std::string setupError_;

  mutable std::mutex connectionsMutex_;
  std::condition_variable connectionsChanged_;
  std::map<int, uint32_t> openConnections_;  // socket -> peer address
  std::map<uint32_t, int> connectionsPerPeer_;
  ConnectionDeadlines deadlines_;
};

}  // namespace quor::tessera::networking
