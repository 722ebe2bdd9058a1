#include "server/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "runtime/diag_print.h"
#include "runtime/monotonic_clock.h"
#include "server/request_framing.h"
#include "server/response_head.h"
#include "server/tcp_server.h"

namespace quor::tessera::networking {

namespace {

// A connection closed while its peer is still sending would be reset, and the reset can
// destroy the answer that explains why; so the server stops writing and reads (and drops)
// what still comes for at most this long before it closes.
constexpr int64_t kLingerMs = 1000;

// One turn reads at most this much before other connections get theirs.
constexpr size_t kMaxBytesPerTurn = 64 * 1024;

constexpr size_t kReadBytes = TCPServer::kReadBufferBytes - 1;

// Bytes read into `buffer`, 0 when none are there now, -1 when the peer closed or the
// connection failed.
ssize_t receiveSome(int socket, char* buffer) {
  for (;;) {
    const ssize_t count = ::recv(socket, buffer, kReadBytes, 0);
    if (count > 0) return count;
    if (count < 0 && errno == EINTR) continue;
    return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
}

}  // namespace

Connection::Connection(int socket, TCPServer& server, const ConnectionDeadlines& deadlines)
    : socket_(socket), server_(server) {
  record_.deadlines = deadlines;
  record_.idleSinceMs = FramingClockMs();
}

Connection::~Connection() { closeDescriptors(); }

bool Connection::open(EventLoop& loop, uint64_t socketToken, uint64_t deadlineToken) {
  std::lock_guard<std::mutex> hold(mutex_);
  loop_ = &loop;
  socketToken_ = socketToken;
  deadlineToken_ = deadlineToken;
  return timer_.descriptor() >= 0 && timer_.expireBy(nextDeadlineMs()) &&
         loop.add(timer_.descriptor(), deadlineToken, EPOLLIN) &&
         loop.add(socket_, socketToken, EPOLLIN);
}

bool Connection::serve(Source source, char* buffer) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (closed_) return false;
  const bool goOn = source == Source::kSocket ? onSocket(buffer) : onDeadline(buffer);
  if (goOn && waitAgain(source)) return true;
  closeDescriptors();
  return false;
}

void Connection::close() {
  std::lock_guard<std::mutex> hold(mutex_);
  closeDescriptors();
}

void Connection::closeDescriptors() {
  if (closed_) return;
  closed_ = true;
  ::close(socket_);  // also ends its registration with the loop
  timer_.close();
}

bool Connection::waitAgain(Source source) {
  // Both registrations are one-shot: the socket's is armed again for whatever the connection
  // now waits for, the timer's after it has been reported.
  const uint32_t interest = output_.pending() ? EPOLLOUT : EPOLLIN;  // lingering follows the last send
  return timer_.expireBy(nextDeadlineMs()) &&
         (source == Source::kSocket ||
          loop_->rearm(timer_.descriptor(), deadlineToken_, EPOLLIN)) &&
         loop_->rearm(socket_, socketToken_, interest);
}

int64_t Connection::nextDeadlineMs() const {
  if (lingering_) return lingerUntilMs_;
  if (output_.pending()) return output_.lastProgressMs() + record_.deadlines.sendStallMs;
  return runtime::MonotonicMillis() + MillisUntilDeadline(record_, FramingClockMs());
}

bool Connection::onSocket(char* buffer) {
  if (lingering_) return drainWhileLingering(buffer);
  if (!output_.pending()) return readAndAnswer(buffer);
  switch (output_.flush(socket_)) {
    case OutgoingBytes::Result::kFailed:
      return false;
    case OutgoingBytes::Result::kPending:
      return true;
    case OutgoingBytes::Result::kSent:
      break;
  }
  return afterSending(buffer);
}

bool Connection::onDeadline(char* buffer) {
  timer_.acknowledge();
  const int64_t nowMs = runtime::MonotonicMillis();
  if (lingering_) return nowMs < lingerUntilMs_;
  // A peer that reads none of its answers is given up.
  if (output_.pending()) return nowMs - output_.lastProgressMs() < record_.deadlines.sendStallMs;
  // Armed lazily, the timer may come before the deadline it stands for.
  if (MillisUntilDeadline(record_, FramingClockMs()) > 0) return true;
  return settle(answer(buffer, 0));
}

bool Connection::readAndAnswer(char* buffer) {
  for (size_t taken = 0; taken < kMaxBytesPerTurn;) {
    const ssize_t count = receiveSome(socket_, buffer);
    if (count <= 0) return count == 0;  // nothing more now, or the peer closed
    if (!answer(buffer, static_cast<int32_t>(count))) return settle(false);
    // A short read took all there was: the loop reports the next bytes when they come.
    if (output_.pending() || static_cast<size_t>(count) < kReadBytes) return true;
    taken += static_cast<size_t>(count);
  }
  return true;
}

// Frames and answers, in order, every request complete in what has arrived. False when the
// connection is to end.
bool Connection::answer(char* bytes, int32_t count) {
  bool sendResponse = false;
  do {
    bytes[count] = '\0';
    body_.clear();
    sendResponse = false;
    try {
      server_.WriteHttpResponse(bytes, count, body_, &sendResponse, &record_);
    } catch (const std::exception& e) {
      // A request that fails this way (out of memory, say) ends its own connection, never the
      // whole process.
      diag_printf("connection closed: %s\r\n", e.what());
      return false;
    }
    if (sendResponse && !sendAnswer()) return false;
    // An answered upload gives its memory back at once, not when the connection ends.
    if (sendResponse && !record_.receiving) record_.body.release();
    if (record_.closeAfterResponse) return false;
    if (record_.continueRequested) {
      // The client holds its body back until told to go on; without this it waits about a
      // second, long enough to trip the gap rule between body chunks.
      record_.continueRequested = false;
      if (output_.send(socket_, kContinueResponse) == OutgoingBytes::Result::kFailed) return false;
    }
    count = 0;  // the next pipelined request is already among the unframed bytes
    resumeAnswering_ = sendResponse && !record_.unframed.empty();
  } while (resumeAnswering_ && !output_.pending());
  return true;
}

bool Connection::sendAnswer() {
  if (record_.page) {
    const PageAnswer page = std::move(*record_.page);
    record_.page.reset();
    return output_.send(socket_, page.head(record_.closeAfterResponse), page.body) !=
           OutgoingBytes::Result::kFailed;
  }
  const ResponseHead head(body_.size(), record_.closeAfterResponse);
  return output_.send(socket_, head.text(), body_) != OutgoingBytes::Result::kFailed;
}

// What follows an answer loop that returned `goOn`.
bool Connection::settle(bool goOn) {
  if (goOn) return true;
  if (!record_.closeAfterResponse) return false;
  ending_ = true;
  return output_.pending() || startLingering();
}

// Everything queued has left.
bool Connection::afterSending(char* buffer) {
  if (ending_) return startLingering();
  if (!resumeAnswering_) return true;
  resumeAnswering_ = false;
  return settle(answer(buffer, 0));
}

bool Connection::startLingering() {
  ::shutdown(socket_, SHUT_WR);
  lingering_ = true;
  lingerUntilMs_ = runtime::MonotonicMillis() + kLingerMs;
  return true;
}

bool Connection::drainWhileLingering(char* buffer) {
  for (size_t dropped = 0; dropped < kMaxBytesPerTurn;) {
    const ssize_t count = receiveSome(socket_, buffer);
    if (count <= 0) return count == 0;
    dropped += static_cast<size_t>(count);
  }
  return runtime::MonotonicMillis() < lingerUntilMs_;
}

}  // namespace quor::tessera::networking
