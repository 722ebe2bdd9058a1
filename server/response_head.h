#pragma once
// The status line and header lines of every answer, written into a small fixed buffer so an
// answer's head costs no allocation.
#include <cstddef>
#include <string_view>

namespace quor::tessera::networking {

class ResponseHead {
 public:
  // The head of a 200 answer whose JSON body is `bodyBytes` long; `closing` when the server
  // ends the connection after it.
  explicit ResponseHead(size_t bodyBytes, bool closing = false);

  std::string_view text() const { return {text_, size_}; }

 private:
  static constexpr size_t kCapacity = 192;  // the fixed lines and a 20-digit length
  char text_[kCapacity];
  size_t size_ = 0;
};

// What a client that asked to be told before it sends its body gets first.
constexpr std::string_view kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace quor::tessera::networking
