#pragma once
// What a connection still has to send. An answer goes out at once with one call, header and
// body together and neither copied; only what the peer's receive window could not take is kept
// here, and sent when the socket can take more. A peer that reads nothing makes no progress,
// which the connection measures from `lastProgressMs`.
#include <cstdint>
#include <string>
#include <string_view>

namespace quor::tessera::networking {

class OutgoingBytes {
 public:
  enum class Result { kSent, kPending, kFailed };

  // Sends `head` and then `body` on the non-blocking `socket`, after whatever is still waiting.
  Result send(int socket, std::string_view head, std::string_view body = {});
  // Sends what is waiting, as far as the socket takes it.
  Result flush(int socket);

  bool pending() const { return sentUpTo_ < unsent_.size(); }
  // When bytes last left, or when the first of them had to wait (monotonic milliseconds).
  int64_t lastProgressMs() const { return lastProgressMs_; }

 private:
  Result keepUnsent(std::string_view head, std::string_view body, size_t sent);

  std::string unsent_;
  size_t sentUpTo_ = 0;
  int64_t lastProgressMs_ = 0;
};

}  // namespace quor::tessera::networking
