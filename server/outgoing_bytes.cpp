#include "server/outgoing_bytes.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

#include "runtime/monotonic_clock.h"

namespace quor::tessera::networking {

namespace {

// Bytes sent, 0 when the socket takes none now, -1 when the connection failed. Never raises
// SIGPIPE: a peer that went away ends its connection, not the process.
ssize_t sendSome(int socket, std::string_view head, std::string_view body) {
  iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(body.data()), body.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = body.empty() ? 1 : 2;
  for (;;) {
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

}  // namespace

OutgoingBytes::Result OutgoingBytes::send(int socket, std::string_view head,
                                          std::string_view body) {
  if (pending()) {
    unsent_.append(head);
    unsent_.append(body);
    return flush(socket);
  }
  const ssize_t sent = sendSome(socket, head, body);
  if (sent < 0) return Result::kFailed;
  if (static_cast<size_t>(sent) == head.size() + body.size()) return Result::kSent;
  return keepUnsent(head, body, static_cast<size_t>(sent));
}

OutgoingBytes::Result OutgoingBytes::keepUnsent(std::string_view head, std::string_view body,
                                                size_t sent) {
  unsent_.clear();
  sentUpTo_ = 0;
  if (sent < head.size()) unsent_.append(head.substr(sent));
  unsent_.append(body.substr(sent < head.size() ? 0 : sent - head.size()));
  lastProgressMs_ = runtime::MonotonicMillis();
  return Result::kPending;
}

OutgoingBytes::Result OutgoingBytes::flush(int socket) {
  while (pending()) {
    const ssize_t sent =
        sendSome(socket, std::string_view(unsent_).substr(sentUpTo_), std::string_view());
    if (sent < 0) return Result::kFailed;
    if (sent == 0) return Result::kPending;
    sentUpTo_ += static_cast<size_t>(sent);
    lastProgressMs_ = runtime::MonotonicMillis();
  }
  // Emptied, but the capacity is kept for the next peer that reads slowly.
  unsent_.clear();
  sentUpTo_ = 0;
  return Result::kSent;
}

}  // namespace quor::tessera::networking
