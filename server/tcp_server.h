#pragma once
// Listens on one TCP port and answers each complete request with an HTTP/1.1 200 response on
// the same kept-alive connection. Connections are served by a few threads that wait on one
// event loop (epoll) instead of by a thread each, so a request costs no thread switch; a
// thread that runs a long handler is stood in for by another, so slow requests never hold up
// the other connections.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "server/connection_table.h"
#include "server/http_response_data.h"

struct epoll_event;

namespace quor::tessera::networking {

class EventLoop;
class ServingThreads;

class TCPServer {
 public:
  static constexpr size_t kReadBufferBytes = 4096;  // one read takes at most 4095 bytes
  // Connections beyond this are closed at once: a flood must not exhaust memory or descriptors.
  static constexpr int kMaxConnections = 256;
  // One peer address may hold at most this many of them, so one host cannot take every slot:
  // four are needed to fill them all. A configuration tool uses two or three, a browser six,
  // a load tool some tens.
  static constexpr int kMaxConnectionsPerPeer = 64;
  // Serving threads get this stack instead of the system's 8 MiB default; the deepest
  // request path needs a small fraction of it.
  static constexpr size_t kConnectionStackBytes = 256 * 1024;
  static constexpr int32_t kMaxPort = 65535;

  TCPServer();
  virtual ~TCPServer();
  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  // Opens the listening socket on `port` (0 picks a free port) and starts the accept thread
  // and the serving threads. A port outside 0..65535 is not listened on.
  void setup(int32_t port);
  // Closes the listening socket, ends the accept thread, closes every open connection (after
  // the handler still running on it, if any, has returned) and ends the serving threads.
  void detach();

  // The port actually listened on (differs from the requested one only for port 0); -1 when
  // not listening.
  int32_t boundPort() const { return boundPort_.load(); }
  // Connections currently served.
  int activeConnections() const;
  // Threads serving connections right now (the accept thread not counted).
  int servingThreads() const;
  // The deadlines every connection accepted from now on gets (tests shorten them).
  void setDeadlines(const ConnectionDeadlines& deadlines);
  // Why the last setup is not listening ("port 1250: Address already in use"); empty while it
  // listens or before any setup.
  std::string setupError() const;

  // The handler: writes the JSON body into `body` and clears `*sendResponse` when no answer is
  // due yet.
  virtual void GetHttpResponse(char* bytes, int32_t count, std::stringstream& body,
                               bool* sendResponse, HttpResponseData* record) = 0;
  // What the server calls: the same, with the body appended to `body` (empty at the call),
  // a buffer the connection keeps from answer to answer. This one runs GetHttpResponse and
  // copies its stream; a handler that can write into `body` directly saves the copies.
  virtual void WriteHttpResponse(char* bytes, int32_t count, std::string& body,
                                 bool* sendResponse, HttpResponseData* record);

 private:
  static void LauchThread_s(TCPServer* server);
  void receive();
  void openConnection(int socket, uint32_t peer);
  bool startServing();
  void serve(const epoll_event& ready);
  void closeConnections();
  void failSetup(int32_t port, const std::string& reason);

  std::atomic<int> listeningSocket_{-1};
  std::atomic<int32_t> boundPort_{-1};
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex setupErrorMutex_;
  std::string setupError_;

  ConnectionTable connections_;
  std::unique_ptr<EventLoop> loop_;
  std::unique_ptr<ServingThreads> servingThreads_;
  mutable std::mutex deadlinesMutex_;
  ConnectionDeadlines deadlines_;
};

}  // namespace quor::tessera::networking
