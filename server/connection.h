#pragma once
// One accepted connection of the event-driven server: its socket and deadline timer, the
// framing record, and what it still has to send. Whichever serving thread the event loop
// reports it to serves it, one at a time (its lock): it reads what arrived, frames and answers
// every complete request in order, and then waits again for input, for room to send, or for
// its deadline.
#include <cstdint>
#include <mutex>
#include <string>

#include "server/deadline_timer.h"
#include "server/event_loop.h"
#include "server/http_response_data.h"
#include "server/outgoing_bytes.h"

namespace quor::tessera::networking {

class TCPServer;

class Connection {
 public:
  enum class Source { kSocket, kDeadline };

  // Takes over `socket` (non-blocking); answers come from `server`'s handler.
  Connection(int socket, TCPServer& server, const ConnectionDeadlines& deadlines);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Registers the socket and the deadline timer with `loop`, reported with these tokens.
  bool open(EventLoop& loop, uint64_t socketToken, uint64_t deadlineToken);
  // Serves what the loop reported, with `buffer` (TCPServer::kReadBufferBytes) for reading.
  // False once the connection has ended; its descriptors are closed then.
  bool serve(Source source, char* buffer);
  // Ends the connection at once; waits for a handler still running on it.
  void close();

 private:
  bool onSocket(char* buffer);
  bool onDeadline(char* buffer);
  bool readAndAnswer(char* buffer);
  bool answer(char* bytes, int32_t count);
  bool sendAnswer();
  bool settle(bool goOn);
  bool afterSending(char* buffer);
  bool startLingering();
  bool drainWhileLingering(char* buffer);
  bool waitAgain(Source source);
  int64_t nextDeadlineMs() const;
  void closeDescriptors();

  std::mutex mutex_;
  const int socket_;
  TCPServer& server_;
  DeadlineTimer timer_;
  EventLoop* loop_ = nullptr;
  uint64_t socketToken_ = 0;
  uint64_t deadlineToken_ = 0;
  bool closed_ = false;

  HttpResponseData record_;
  std::string body_;  // the answer being written; keeps its capacity from answer to answer
  OutgoingBytes output_;
  bool resumeAnswering_ = false;  // pipelined requests wait for the last answer to leave
  bool ending_ = false;           // the last answer given: linger once it has left
  bool lingering_ = false;
  int64_t lingerUntilMs_ = 0;
};

}  // namespace quor::tessera::networking
